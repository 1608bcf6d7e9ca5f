// ZORBIN: the binary serialization of values. One value graph (blocks, strings, words
// with their bindings, objects, functions, natives, errors, maps...) is written as a
// stream of records that a decoder turns back into an equal graph without the lexer or
// binding: a series met a second time (shared or cyclic) is written as a reference path
// to its first occurrence, and a word bound to an object or a function carries its
// context along (the owner's record right after the word, or a path to it).
//
// Two variants share the header and the semantics: compact (varints, one type byte a
// record) and fixed (32-bit little-endian words). The byte format is in zorbin-format.h.
// The payload may be compressed with the runtime's LZ codec (codecs/lz.h); the decoder
// accepts it, the encoders never write it.
//
// Invariants for callers:
// - The encoders allocate nothing collected until the result, and hold the collector off
//   while they walk, so the table of emitted series (keyed by node) stays exact.
// - The decoder treats its input as hostile: every count, size and index is checked
//   against the bytes left before anything is allocated; a fault raises
//   script/zb-invalid-record with the 1-based byte offset of the failing read (or
//   script/invalid-data for a bad envelope), never ends the process. Cells decoded before
//   the fault stay in the target block.
// - routine!, triple!, handle!, port! and event! are not serializable (access/no-codec).
// - The target block handed to decode lies in a rooted place (an argument-stack slot or a
//   root cell); the encoders' results are pushed on the argument stack.
#pragma once

#include <cstdint>

#include "runtime/value/cell.h"

namespace zor::zorbin {

// The decoder's mode: boot mode reads binding prefixes and context positions into the
// root block and keeps stored class ids; run-time mode (the codec) refuses them.
enum class mode : uint8_t { run_time, boot };
extern mode current_mode;

// `zorbin/encode-compact` and `zorbin/encode-fixed`: a new binary! (pushed) holding the
// header, payload and records of the one value.
cell* encode_compact(const cell* value);
cell* encode_fixed(const cell* value);

// `zorbin/decode`: decodes `size` bytes at data into the tail of the target block, in the
// current mode. Answers the boot literal base in boot mode (the target's cell at its length
// before the load), else the base in force. The data must stay in place (it is never a
// series buffer that could move).
cell* decode(const uint8_t* data, int64_t size, cell* target);

// `zorbin/load-boot-data`: decodes a boot image into the runtime's root block in boot
// mode with the collector off. An image that is not ZORBIN, or whose compressed payload
// is corrupt, ends the process with a message and status 1; with keep_base the literal
// base in force before the call is restored afterwards.
void load_boot_data(const uint8_t* image, int64_t size, bool keep_base);

}  // namespace zor::zorbin
