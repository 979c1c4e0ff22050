// Saving a retrieved message to a file the user chose.
//
// The file is written beside its final name under a temporary name, flushed to disk and then
// renamed over the chosen name, so the chosen name holds either its old content or the complete
// new one, never a part: a full disk, a read-only folder or a crash leave it as it was. Any thread;
// blocking (a flush to disk may take a moment on a slow device).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace dovrik {

struct FileError {
  int code = 0;         // the errno of the step that failed
  std::string message;  // for the user: names the file and the reason
};

// The bytes of a saved message: raw split at CR LF, lone CR and lone LF, each line followed by
// CR LF (a break at the very end adds no empty line; an empty text gives an empty file).
std::string MessageFileBytes(std::string_view raw);

// The message itself, as mail programs read a .eml file: of a POP3 reply (raw starting with
// "+OK") the status line and the final "." line go and dot-stuffing is undone; then every line
// ends in CR LF as above. Text without the status line is taken as the message already.
std::string EmlFileBytes(std::string_view raw);

// True for a name ending in ".eml", in any case.
bool IsEmlPath(const std::filesystem::path& path);

// Writes EmlFileBytes(raw) to a .eml path and MessageFileBytes(raw) to any other, replacing an
// existing file without a question (its permission bits are kept; a symbolic link is followed, so
// the file it points to is replaced). Returns the error, or nothing when the file is complete under
// its name.
std::optional<FileError> SaveMessageFile(const std::filesystem::path& path, std::string_view raw);

// The writing step, replaceable so a test can make the disk fail: like ::write.
using WriteSome = std::function<ssize_t(int fd, const void* data, std::size_t size)>;

// Puts bytes under path by the temporary-file route above.
std::optional<FileError> WriteFileReplacing(const std::filesystem::path& path,
                                            std::string_view bytes, const WriteSome& write = {});

}  // namespace dovrik
