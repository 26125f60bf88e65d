// Files that survive whatever fails: a save replaces a file whole or not at
// all, a read takes only what a regular file holds, and a file that could not
// be read is put aside instead of being written over. Plain C++ and POSIX with
// no state of its own, so any thread may call it.
#pragma once

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace volmar {

// Its text is ready for the operator and names the file as the caller gave it.
class EFileStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs Do, raising an EFileStoreError from it as the caller's own Error type with the same text.
template <class Error, class Action> decltype(auto) RaisingAs(Action&& Do) {
    try {
        return Do();
    } catch (const EFileStoreError& Failure) {
        throw Error(Failure.what());
    }
}

// At most Limit bytes of the regular file at Path (symbolic links followed), or nullopt when
// nothing is there. A FIFO, device or folder raises "Cannot open file <Path>: not a regular
// file" without being waited on or read; a file that cannot be read, "Cannot open file <Path>".
// Ask for one byte more than you accept to tell a file that is too long.
std::optional<std::string> ReadRegularFile(const std::string& Path, std::size_t Limit);

// What a file's mode says it is, in the words of FileTypeName.
const char* FileKind(mode_t Mode);

// Replaces the file at Path with Bytes: a temporary ".<name>.tmp-XXXXXX" beside it is written,
// flushed to disk and renamed over it, then the folder is flushed. A symbolic link is written
// through: its target (which may be missing) is the file replaced. On failure the old file is
// untouched, the temporary removed, and "Cannot create file <Path>" (no temporary could be made)
// or "Unable to write to <Path>" is raised. The file keeps its permissions; a new one is 0644.
// What is there and is no regular file (a FIFO, a folder, a device) is never replaced: "Unable
// to write to <Path>" is raised.
void ReplaceFile(const std::string& Path, std::string_view Bytes);

// What a file of Type is, for a sentence: "a FIFO", "a folder", "a character device", ...
const char* FileTypeName(std::filesystem::file_type Type);

// Removes the temporaries that saves of Path, killed midway, left behind: in its folder and,
// when Path is a symbolic link, in its target's folder. Nothing but regular files named exactly
// as ReplaceFile names them is touched. Call it before any save of Path starts; never raises.
void RemoveLeftoverTemporaries(const std::string& Path);

// Renames Path (a symbolic link itself, not its target) to "<Path>.<Why>-YYYYMMDD-HHMMSS" in
// local time, with "-2", "-3"... added while that name is taken: nothing is ever replaced.
// Returns the new path; raises EFileStoreError saying why when it cannot.
std::string KeepAside(const std::string& Path, const std::string& Why,
                      std::time_t When = std::time(nullptr));

} // namespace volmar
