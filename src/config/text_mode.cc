// Text mode over the file layer, the same on both builds: whole lines at a time, so that the
// text is never held whole unless asked for, and converted where it is read.
#include "config/text_mode.h"

#include <algorithm>
#include <cstring>

namespace config {
namespace {

// A piece read stays in the processor's cache while its line ends are converted; pieces written
// are larger, as the system takes fewer, larger writes into its cache at less cost per byte.
const size_t kReadPiece = 256 * 1024;
const size_t kWritePiece = 1024 * 1024;
const size_t kCheckBlock = 64;  // the bytes of text looked at between two tests of the result

// Drops each CR directly followed by an LF from |*text| from |from| on, moving the rest down; a
// CR at the very end stays, for the byte read after it to decide.
void DropCrBeforeLf(std::string* text, size_t from) {
  char* bytes = &(*text)[0];
  const size_t size = text->size();
  size_t out = from;
  for (size_t at = from; at < size;) {
    const void* cr = std::memchr(bytes + at, '\r', size - at);
    const size_t end = cr ? static_cast<size_t>(static_cast<const char*>(cr) - bytes) : size;
    if (out != at) std::memmove(bytes + out, bytes + at, end - at);
    out += end - at;
    if (!cr) break;
    at = end + 1;
    if (at == size || bytes[at] != '\n') bytes[out++] = '\r';
  }
  text->resize(out);
}

}  // namespace

TextRead TextReader::Start(int64_t limit, int64_t storedAbove) {
  if (!file_->SeekEnd(&length_)) return TextRead::kFailed;
  if (length_ > limit) return TextRead::kTooLong;
  ends_ = length_ > storedAbove ? LineEnd::kCrLf : LineEnd::kLf;
  if (!file_->Seek(0)) return TextRead::kFailed;
  done_ = 0;
  rest_.clear();
  return TextRead::kDone;
}

bool TextReader::Next(size_t size, std::string* lines) {
  lines->assign(rest_);
  rest_.clear();
  for (size_t read = 0; done_ < length_;) {
    const size_t got = static_cast<size_t>(std::min<int64_t>(kReadPiece, length_ - done_));
    // A CR that ended the text so far is decided by the first byte read now.
    const size_t from = lines->size() - (!lines->empty() && lines->back() == '\r');
    const size_t at = lines->size();
    lines->resize(at + got);
    if (!file_->ReadExactly(&(*lines)[at], got)) return false;
    done_ += static_cast<int64_t>(got);
    read += got;
    if (ends_ == LineEnd::kLf) DropCrBeforeLf(lines, from);
    if (read >= size && done_ < length_) {
      const size_t end = lines->rfind('\n');
      if (end == std::string::npos) continue;  // a line longer than a run: read on
      rest_.assign(*lines, end + 1, std::string::npos);
      lines->resize(end + 1);
      return true;
    }
  }
  if (ends_ == LineEnd::kLf && !lines->empty() && lines->back() != '\n') *lines += '\n';
  return true;
}

// Left uninitialized: a short text touches only the start of it.
TextWriter::TextWriter(os::File* file) : file_(file), piece_(new char[kWritePiece]) {}

bool TextWriter::Write(const std::string& text, LineEnd ends) {
  // As stored: nothing to convert, so the run goes in one write, without a copy.
  if (ends == LineEnd::kCrLf) {
    return Finish() && (text.empty() || file_->Write(text.data(), text.size()));
  }
  for (size_t at = 0; at < text.size();) {
    // Room is kept for the CR LF of a line end found in what is taken.
    const size_t take = std::min(text.size() - at, kWritePiece - 1 - used_);
    const void* lf = std::memchr(text.data() + at, '\n', take);
    const size_t end =
        lf ? static_cast<size_t>(static_cast<const char*>(lf) - text.data()) : at + take;
    std::memcpy(piece_.get() + used_, text.data() + at, end - at);
    used_ += end - at;
    at = end;
    if (lf) {
      piece_[used_++] = '\r';
      piece_[used_++] = '\n';
      ++at;
    }
    if (used_ + 1 >= kWritePiece && !Finish()) return false;
  }
  return true;
}

bool TextWriter::Finish() {
  const size_t used = used_;
  used_ = 0;
  return used == 0 || file_->Write(piece_.get(), used);
}

bool EachLineEndsWithCrLf(const std::string& lines) {
  const unsigned char* const bytes = reinterpret_cast<const unsigned char*>(lines.data());
  const size_t size = lines.size();
  if (size == 0) return true;
  if (bytes[0] == '\n' || bytes[size - 1] != '\n') return false;
  // Lines are short: a search per line end would cost a call each. Every byte is looked at
  // instead, a block of fixed length at a time and without a branch inside it, which the
  // compiler turns into vector code.
  unsigned char alone = 0;  // an LF without its CR was seen
  size_t at = 1;
  for (; at + kCheckBlock <= size && alone == 0; at += kCheckBlock) {
    const unsigned char* const block = bytes + at;
    const unsigned char* const before = block - 1;
    for (size_t k = 0; k < kCheckBlock; ++k) alone |= (block[k] == '\n') & (before[k] != '\r');
  }
  for (; at < size; ++at) alone |= (bytes[at] == '\n') & (bytes[at - 1] != '\r');
  return alone == 0;
}

}  // namespace config
