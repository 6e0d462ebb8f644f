// Text mode over the file layer, the same on both builds: a piece at a time, so that neither a
// second copy of the text nor a pass over it apart from the copy is needed.
#include "config/text_mode.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace config {
namespace {

// A piece read stays in the processor's cache while its line ends are converted; pieces written
// are larger, as the system takes fewer, larger writes into its cache at less cost per byte.
const size_t kReadPiece = 64 * 1024;
const size_t kWritePiece = 1024 * 1024;

// Drops from the |size| bytes at |bytes| each CR directly followed by an LF, moving the rest
// down; the last byte is not a CR. Returns the bytes left.
size_t DropCrBeforeLf(char* bytes, size_t size) {
  size_t out = 0;
  for (size_t at = 0; at < size;) {
    const void* cr = std::memchr(bytes + at, '\r', size - at);
    const size_t end = cr ? static_cast<size_t>(static_cast<const char*>(cr) - bytes) : size;
    std::memmove(bytes + out, bytes + at, end - at);
    out += end - at;
    if (!cr) break;
    if (bytes[end + 1] != '\n') bytes[out++] = '\r';
    at = end + 1;
  }
  return out;
}

}  // namespace

TextRead ReadInTextMode(os::File* file, int64_t limit, std::string* text) {
  int64_t length = 0;
  if (!file->SeekEnd(&length)) return TextRead::kFailed;
  if (length > limit) return TextRead::kTooLong;
  if (!file->Seek(0)) return TextRead::kFailed;
  std::string read;
  read.reserve(static_cast<size_t>(length) + 1);
  std::vector<char> piece(kReadPiece);
  bool cr = false;  // the last piece ended with a CR, whose LF may begin the next
  for (int64_t done = 0; done < length;) {
    const size_t got = static_cast<size_t>(std::min<int64_t>(kReadPiece, length - done));
    if (!file->ReadExactly(piece.data(), got)) return TextRead::kFailed;
    done += static_cast<int64_t>(got);
    if (cr && piece[0] != '\n') read += '\r';
    cr = piece[got - 1] == '\r';  // decided by the next piece, or kept at the end
    read.append(piece.data(), DropCrBeforeLf(piece.data(), got - cr));
  }
  if (cr) read += '\r';
  if (!read.empty() && read.back() != '\n') read += '\n';
  text->swap(read);
  return TextRead::kDone;
}

bool WriteInTextMode(os::File* file, const std::string& text) {
  // Left uninitialized: a short text touches only the start of it.
  const std::unique_ptr<char[]> piece(new char[kWritePiece]);
  size_t used = 0;
  for (size_t at = 0; at < text.size();) {
    // Room is kept for the CR LF of a line end found in what is taken.
    const size_t take = std::min(text.size() - at, kWritePiece - 1 - used);
    const void* lf = std::memchr(text.data() + at, '\n', take);
    const size_t end =
        lf ? static_cast<size_t>(static_cast<const char*>(lf) - text.data()) : at + take;
    std::memcpy(piece.get() + used, text.data() + at, end - at);
    used += end - at;
    at = end;
    if (lf) {
      piece[used++] = '\r';
      piece[used++] = '\n';
      ++at;
    }
    if (used + 1 >= kWritePiece || at == text.size()) {
      if (!file->Write(piece.get(), used)) return false;
      used = 0;
    }
  }
  return true;
}

}  // namespace config
