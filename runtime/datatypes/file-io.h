// The file services behind file!'s actions and the natives that reach files: reading a
// file into a string!, binary! or block of lines, writing values to a file, directory
// listings, deletion, renaming and the other path queries. The platform's file system
// (platform/file-system.h) does the system calls; this module turns values into paths
// and bytes and bytes into values, and raises the language errors (access/cannot-open
// with the file! value when a file cannot be opened, read or written).
//
// Paths: a file! is the system's own path (UTF-8, forward slashes) from its index. A
// directory path is one whose text says so (see is_dir_path); listing, deleting and
// reading go by the text, as the language's users write dir/ for a directory.
//
// Text: files are read as UTF-8 (a leading byte order mark skipped, CR LF and lone CR
// made LF) and written as UTF-8 with LF line ends.
//
// Invariants for callers: cells passed in live in rooted places (argument-stack slots);
// results are pushed on the argument stack.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file-system.h"
#include "runtime/value/cell.h"

namespace zor::file_io {

// The system path of a file! or string! from its index.
std::string system_path(cell* file);

// True when the text names a directory: it ends in "/", or it is "." or "..", or it ends
// in "/." or "/..".
bool is_dir_path(cell* file);

// The whole content of the file a file! names; nothing when it cannot be read.
std::optional<std::vector<uint8_t>> read_whole_file(cell* file);

// `read`: the file's content from the seek index (0-based, none: the start), at most part
// bytes (none or a negative count: all; 0: nothing), as a binary!, a block of lines or a
// string!; for a directory path, the listing. Pushes the result. part and seek may be null.
cell* read_path(cell* file, cell* part, cell* seek, bool binary, bool lines);

// `write`: writes the value to the file (created when missing, else replaced; with append
// added at the end; with seek written from that offset over what is there). A string is
// written as UTF-8 (part: at most that many characters), a binary! as its bytes (part:
// at most that many), any other value molded; in lines mode each value of a block is
// written on a line of its own, any other value as one line. Answers the bytes written
// by the last write, or -1 when a negative part asked for nothing to be written.
int64_t write_path(cell* file, cell* data, cell* part, cell* seek, bool binary, bool append, bool lines);

// `write-stdout`: writes the value to standard output exactly as write would put it in a
// file (no part, no seek, no lines). Answers the bytes written, -1 when the write failed.
int64_t write_standard_output(cell* data);

// The directory's entries as a new block of file! values (directories with a trailing
// "/"), sorted by name; pushes it. access/cannot-open when it cannot be read.
cell* list_directory(cell* file);

// `delete`: removes a file, or an empty directory for a directory path.
bool delete_path(cell* file);
// `rename`: renames; never replaces what the new name already names.
bool rename_path(cell* from, cell* to);
// `make-dir` / `create`: makes one directory.
bool make_directory(cell* file);
// When what the path names was last modified (UTC); nothing when it does not exist, or
// when a directory path names something that is no directory.
std::optional<file_system::modification_time> modified_at(cell* file);
// Whether anything exists under the path.
bool exists(cell* file);
// The size in bytes of a file, -1 for a directory path or when it cannot be opened.
int64_t size_of(cell* file);

}  // namespace zor::file_io
