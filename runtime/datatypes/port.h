// port!: the language's handle on an external resource reached through a scheme. A port
// is an object! (fields spec, scheme, actor, awake, state, data, extra) retyped to 48
// with class id 2; its series and I/O actions are forwarded by name to the functions of
// its actor object, which the scheme provides. (A handle! actor is served by the action
// dispatcher and never reaches this module.)
//
// The scheme, and the prototypes of the port and of its spec, are looked up in the
// `system` object (system/standard/port, system/standard/url-parts, and system/schemes: a
// block of name/scheme pairs as scheme registration fills it, or an object whose fields
// are the names) when the port is made; without those prototypes the fields named above
// are used.
//
// Invariants for callers: port cells lie in rooted places; forwarding runs user code, so
// nothing here keeps a buffer address across a forwarded call.
#pragma once

namespace zor::port {

// Registers port! (id 48, parent object!).
void init_type();

}  // namespace zor::port
