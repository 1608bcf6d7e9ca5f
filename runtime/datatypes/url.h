// url!: a resource locator held as text, its %XX escapes already decoded (the lexer
// decodes a url literal; mold encodes again). The cell and buffer are string!'s (see
// string.h); url! is string!'s child and the parent of file!, which inherits its making,
// conversions and path access.
//
// Which bytes a url writes as they are is a class table of 128 entries; every byte at or
// above 0x80 is always escaped. The unreserved class keeps - . 0-9 A-Z _ a-z ~; the url
// class also keeps ! # $ & ' ( ) * + , / : = ? @, the characters that may also stand in
// an unquoted file! literal. The percent coding of whole texts (codecs/url-percent.h)
// uses the same tables.
//
// Invariant for callers: values and outputs are rooted cells (argument-stack slots or
// root cells), as for every string routine.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/value/cell.h"

namespace zor::url {

// The mode that selects the unreserved class; any other mode selects the url class.
inline constexpr int MODE_UNRESERVED = 254;
inline constexpr int MODE_URL = 0;
// The url class less the parentheses, which end a url literal: how mold writes a url.
inline constexpr int MODE_MOLD = 1;

// Whether the byte stays unescaped in the class a mode selects (MODE_MOLD: the url class).
bool keeps_byte(uint8_t byte, int mode);

// Appends the UTF-8 bytes of the code point to the text, each as itself when the mode's
// class keeps it, else as "%" and two upper-case hexadecimal digits.
void encode_codepoint(std::string& text, uint32_t codepoint, int mode);

// Registers url! (id 9, parent string!).
void init_type();

// url!/make and url!/to: a block!, paren! or hash! spec builds a url! from its parts
// (scheme, host, an optional integer port, then the path segments); anything else, and
// any target other than url!, converts as string! does.
cell* make(cell* value, cell* spec, type_id type);
cell* to(cell* value, cell* spec, type_id type);
// url!/mold: the characters from the index with every byte outside the url class, and the
// parentheses, percent-encoded; no delimiters.
int mold(cell* value, cell* output, bool only, bool all, bool flat, cell* part, int budget, int indent);
// Path access on a url! or file!: a new value of the parent's type joining the parent's
// text and the formed element with exactly one slash. Setting raises bad-path-set.
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* grandparent, cell* previous,
                int position, int pass_through, bool get_only, bool tail, bool in_place);

}  // namespace zor::url
