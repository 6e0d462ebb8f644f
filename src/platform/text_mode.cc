// Text mode over the file layer, the same on both builds: a piece at a time, so that neither a
// second copy of the text nor a pass over it apart from the copy is needed.
#include "platform/text_mode.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform {
namespace {

const size_t kPiece = 64 * 1024;

}  // namespace

bool ReadText(File* file, int64_t limit, std::string* text) {
  int64_t length = 0;
  if (!file->SeekEnd(&length) || length > limit || !file->Seek(0)) return false;
  std::string read;
  read.reserve(static_cast<size_t>(length) + 1);
  std::vector<char> piece(kPiece);
  bool cr = false;  // the last piece ended with a CR, whose LF may begin the next
  for (int64_t done = 0; done < length;) {
    size_t got = 0;
    if (!file->Read(piece.data(), std::min<int64_t>(kPiece, length - done), &got) || got == 0) {
      return false;
    }
    done += static_cast<int64_t>(got);
    const char* p = piece.data();
    const char* end = p + got;
    if (cr && *p != '\n') read += '\r';
    cr = false;
    while (p < end) {
      const char* at = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p)));
      read.append(p, at ? at : end);
      if (!at) break;
      if (at + 1 == end) {
        cr = true;  // decided by the next piece, or kept at the end
      } else if (at[1] != '\n') {
        read += '\r';
      }
      p = at + 1;
    }
  }
  if (cr) read += '\r';
  if (!read.empty() && read.back() != '\n') read += '\n';
  text->swap(read);
  return true;
}

bool WriteText(File* file, const std::string& text) {
  std::string piece;
  piece.reserve(kPiece + 2);
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const size_t take = std::min(end - at, kPiece - std::min(kPiece, piece.size()));
    piece.append(text, at, take);
    at += take;
    if (at == end && end < text.size()) {
      piece += "\r\n";
      ++at;
    }
    if (piece.size() >= kPiece || at == text.size()) {
      if (!file->Write(piece.data(), piece.size())) return false;
      piece.clear();
    }
  }
  return true;
}

}  // namespace platform
