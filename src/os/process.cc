// The clean room that a started program runs from, the same on both platforms over held folders.
#include "os/process.h"

#include <new>
#include <vector>

#include "os/folder.h"
#include "os/known_folders.h"
#include "os/internal/access.h"
#include "os/internal/process.h"
#include "os/internal/random.h"
#include "os/internal/rooms.h"
#include "os/internal/sha256.h"
#include "os/internal/step.h"

namespace os {

using internal::FileAccess;
using internal::FolderAccess;

const char kRoomsFolder[] = "OrvaPatch";

OpenStatus OpenTempFolder(Folder* out, Failure* why) {
  std::string windows;
  if (!WindowsDirectory(&windows)) return OpenStatus::kMissing;
  return FolderAccess::OpenSystemFolder(FileLocation(windows + "\\Temp"), out, why);
}

namespace {

// Every clean room's name starts so; the rest is random.
const char kRoomPrefix[] = "OrvaPatch-";
// The program's own Temp folder in its room.
const char kProgramTemp[] = "Temp";
// Copied a piece at a time, so that memory stays small whatever the program's size.
const size_t kPiece = 1 << 20;
// Deeper than any installer's own files go; a deeper tree is left to the administrator.
const int kMaxDepth = 8;

StartResult NotStarted(StartFailure failure, const Failure& why) {
  return StartResult{failure, why.error};
}

// Removes the rooms that killed runs left in |rooms|, or with |keep| empties them: a room that a
// run still holds stays, and nothing in a room is followed through a link.
void RemoveLeftoverRooms(const Folder& rooms, bool keep) {
  try {
    for (const std::string& name : FolderAccess::Names(rooms, kRoomPrefix)) {
      (void)FolderAccess::RemoveTree(rooms, name, kMaxDepth, !keep);
    }
  } catch (const std::bad_alloc&) {
    // Out of memory on the way: the rooms left are removed by a later run.
  }
}

// Copies what remains of |from| to |to|, a piece at a time, each piece hashed as it is read.
// |*why| tells a failure, and |*readFailed| whether it was a read.
bool CopyHashing(File* from, File* to, Sha256* hash, Failure* why, bool* readFailed) {
  std::vector<unsigned char> piece(kPiece);
  for (;;) {
    size_t got = 0;
    *readFailed = !FileAccess::Read(from, piece.data(), piece.size(), &got);
    if (*readFailed) {
      *why = from->WhyFailed();
      return false;
    }
    if (got == 0) return true;
    if (!hash->Add(piece.data(), got) || !to->Write(piece.data(), got)) {
      *why = to->WhyFailed();
      return false;
    }
  }
}

// Opens the folder that the rooms are made in, in |*rooms|, once the rooms that killed runs left
// are removed; |*keep| when it is the Temp folder itself, whose rooms are kept once emptied.
bool OpenRooms(Folder* rooms, bool* keep, Failure* why) {
  Folder temp;
  if (OpenTempFolder(&temp, why) != OpenStatus::kDone) return false;
  // Rooms are made in a folder of their own, made once, that only the administrators and the
  // system may change, and that outlives the runs: a room's path, which an installer may record,
  // can then never be made again by a standard user. A folder of that name that is not certainly
  // such a folder (a standard user made it) is never used: the rooms are then made in the Temp
  // folder itself, where anyone may make folders, and kept there once emptied.
  RemoveLeftoverRooms(temp, true);
  *keep = FolderAccess::OpenPrivateFolder(temp, kRoomsFolder, rooms) != OpenStatus::kDone;
  if (*keep) {
    *rooms = std::move(temp);
  } else {
    RemoveLeftoverRooms(*rooms, false);
  }
  return true;
}

}  // namespace

StartResult CleanRoom::Fill(const FileLocation& source, const std::string& name,
                            const uint8_t* sha256) {
  Failure why;
  if (!OpenRooms(&rooms_, &keep_, &why)) return NotStarted(StartFailure::kCleanRoom, why);
  // The program's one open: its bytes are read, hashed and copied through this handle alone.
  File from;
  if (Patiently([&] { return FileAccess::OpenProgram(source, &from, &why); }) !=
      OpenStatus::kDone) {
    return NotStarted(StartFailure::kMissing, why);
  }
  std::string digits;
  if (!RandomDigits(&digits)) return NotStarted(StartFailure::kCleanRoom, why);
  roomName_ = kRoomPrefix + digits;
  copyName_ = name;
  if (FolderAccess::MakePrivateFolder(rooms_, roomName_, &room_, &why) != OpenStatus::kDone) {
    return NotStarted(StartFailure::kCleanRoom, why);
  }
  const StartFailure failure = CopyIn(&from, sha256, &why);
  if (failure == StartFailure::kNone) return StartResult{};
  Remove();
  return NotStarted(failure, why);
}

StartFailure CleanRoom::CopyIn(File* from, const uint8_t* sha256, Failure* why) {
  // Within the room nobody else can write: the copy inherits the room's access.
  File to;
  if (room_.OpenFile(copyName_, FileMode::kCreateNew, false, &to, why) != OpenStatus::kDone) {
    return StartFailure::kCleanRoom;
  }
  Sha256 hash(sha256 != nullptr);
  bool readFailed = false;
  const bool copied = CopyHashing(from, &to, &hash, why, &readFailed);
  if (!to.Close() || !copied) {
    return readFailed ? StartFailure::kMissing : StartFailure::kCleanRoom;
  }
  if (sha256 && !hash.Matches(sha256)) {
    *why = Failure();  // the system failed at nothing
    return StartFailure::kNotReleased;
  }
  // Held shared with readers only: the system can open it to start it, nobody can change it.
  if (room_.OpenFile(copyName_, FileMode::kReadShared, false, &copy_, why) != OpenStatus::kDone) {
    return StartFailure::kCleanRoom;
  }
  // An installer unpacks its helpers into its Temp folder and runs them from there. Where the
  // run's own lets standard users add to it, as the system account's C:\Windows\Temp does, a
  // file they planted or swapped there would run with the installer's rights: the installer gets
  // a Temp folder in its room instead, which it inherits, and which goes with the room.
  if (!OwnTempIsPrivate() &&
      FolderAccess::MakePrivateFolder(room_, kProgramTemp, &temp_, why) != OpenStatus::kDone) {
    return StartFailure::kCleanRoom;
  }
  return StartFailure::kNone;
}

StartResult Process::Start(CleanRoom* room, const std::string& commandLine, uint16_t show,
                           const File* shared, Process* out) {
  if (!room->copy_.IsOpen()) return StartResult{StartFailure::kFailed, 0};
  // A struck start reads as a rule's refusal: the program was never started.
  if (BeginStep(fault::Op::kStart)) return StartResult{StartFailure::kRefused, kRefusedByRule};
  return PlatformStart(room, commandLine, show, shared, out);
}

void CleanRoom::Remove() {
  copy_.Close();
  if (!FolderAccess::IsOpen(room_)) return;
  temp_ = Folder();
  room_ = Folder();
  // A room whose program, or a program it started, still runs stays for a later run to remove.
  if (ProgramsRun(programs_)) return;
  // Out of memory on the way: once more, as memory is often back by then; else a later run
  // removes the room.
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      // A program that has just ended may still hold its files for a moment.
      (void)Patiently(
          [&] { return FolderAccess::RemoveTree(rooms_, roomName_, kMaxDepth, !keep_); });
      return;
    } catch (const std::bad_alloc&) {
    }
  }
}

}  // namespace os
