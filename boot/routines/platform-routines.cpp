// The boot routines that reach the platform: the process's current directory, making a
// directory, testing a path, the system's description, the clipboard and standard output.
//
// Invariant: a path reaches the system only whole: a file! whose text holds a NUL byte
// (which the system would take as the path's end, naming another file) is refused as the
// system refuses a path it cannot open or make.
#include "boot/routines/routines.h"

#include <string>

#include "boot/routine-table.h"
#include "boot/routines/routine-calls.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "runtime/binding/context.h"
#include "runtime/binding/symbol.h"
#include "runtime/datatypes/file-io.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors/raise.h"
#include "runtime/text/unicode.h"

namespace zor::boot {

namespace {

using eval::routine_arguments;
using namespace routine_calls;

// The system path of a file!, or nothing when its text cannot name a path whole.
bool path_of(cell* file, std::string& path) {
    path = file_io::system_path(file);
    return path.find('\0') == std::string::npos;
}

cell* push_text(const std::string& text) {
    return string::load_onto_stack(unicode::input_bytes::at(text.data()), static_cast<int64_t>(text.size()),
                                   string::ENCODING_UTF8);
}

// get-current-dir: the current directory as a string!, ending in "/".
uint64_t get_current_dir(const routine_arguments&) {
    cell* result = result_slot();
    std::string dir = platform::current_dir();
    if (dir.empty()) {
        // The directory was removed under the process, or its path is too long to read.
        cell* here = push_text("./");
        cell::set_type(here, TYPE_FILE);
        raise::throw_error(err::access_cannot_open, here);
    }
    if (dir.back() != '/') dir.push_back('/');
    *result = *push_text(dir);
    stack::keep_result_slot();
    return 0;
}

// set-current-dir path: makes the path the current directory.
uint64_t set_current_dir(const routine_arguments& arguments) {
    cell* path = cell_argument(arguments, 0);
    std::string text;
    if (!path_of(path, text) || !platform::change_dir(text)) raise::throw_error(err::access_cannot_open, path);
    return answer(unset_value());
}

// create-dir path: makes one directory; its parent must exist and it must not.
uint64_t create_dir(const routine_arguments& arguments) {
    cell* path = cell_argument(arguments, 0);
    std::string text;
    if (!path_of(path, text) || text.empty() || !file_io::make_directory(path))
        raise::throw_error(err::access_no_create, path);
    return answer(unset_value());
}

// exists? path: whether a file or directory is there.
uint64_t exists_q(const routine_arguments& arguments) {
    cell* path = cell_argument(arguments, 0);
    std::string text;
    return path_of(path, text) && !text.empty() && file_io::exists(path) ? 1 : 0;
}

void put_field(const cell* object, const char* name, const cell* value) {
    context::put_symbol_value(object->w1, symbol::make(name), value);
}

// os-info: a new object [name arch version build] describing the system.
uint64_t os_info(const routine_arguments&) {
    cell* result = result_slot();
    const environment::system_description description = environment::describe_system();
    cell* object = stack::push_slot();
    object::init_empty(object, 8);
    object->w2 = static_cast<uint32_t>(object::next_class_id());
    *context::self_cell(object->w1) = *object;
    put_field(object, "name", push_text(description.name));
    put_field(object, "arch", word::push_global(symbol::make(description.arch.c_str())));
    const int32_t version[3] = {description.version[0], description.version[1], description.version[2]};
    put_field(object, "version", tuple::push_from_ints(3, version));
    cell build;
    put_field(object, "build", integer::make_in(&build, description.build));
    *result = *object;
    stack::keep_result_slot();
    return 0;
}

// The clipboard is not reached yet.
uint64_t read_clipboard(const routine_arguments&) { raise::throw_error(err::internal_not_done); }
cell* write_clipboard(cell*) { raise::throw_error(err::internal_not_done); }

// write-stdout data: the bytes write would put in a file, on standard output.
// Cell-calling, as the data may be of any type.
cell* write_stdout(cell* arguments) {
    if (file_io::write_standard_output(arguments) < 0) {
        cell* output = push_text("/dev/stdout");
        cell::set_type(output, TYPE_FILE);
        raise::throw_error(err::access_cannot_open, output);
    }
    return nullptr;
}

const boot_routine PLATFORM_ROUTINES[] = {
    {"get-current-dir", code_of<&get_current_dir>(), false, -1},
    {"set-current-dir", code_of<&set_current_dir>(), false, -1},
    {"create-dir", code_of<&create_dir>(), false, -1},
    {"exists?", code_of<&exists_q>(), false, TYPE_LOGIC},
    {"os-info", code_of<&os_info>(), false, -1},
    {"read-clipboard", code_of<&read_clipboard>(), false, -1},
    {"write-clipboard", code_of<&write_clipboard>(), true, -1},
    {"write-stdout", code_of<&write_stdout>(), true, -1},
};

}  // namespace

void register_platform_routines() { register_routines(PLATFORM_ROUTINES); }

}  // namespace zor::boot
