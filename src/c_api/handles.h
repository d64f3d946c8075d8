// Object handles of the C interface. A handle is not an address: it is a
// slot number and the slot's generation, so that a handle used after its
// last release is recognised and refused instead of reaching freed memory.
#ifndef QUORVEL_C_API_HANDLES_H_
#define QUORVEL_C_API_HANDLES_H_

#include "quorvel/object.h"
#include "quorvel/quorvel_c.h"

namespace quorvel::c_api {

// Returns the handle of `object` with one more count on it; the same object
// gets the same handle while any count is held. Null gives null.
quorvel_object* HandleOf(Object* object);

// Returns the object `handle` names; raises 5 for a handle that was released
// or never made. Null gives null (Nothing).
Object* ObjectOf(quorvel_object* handle);

// Count a handle once more or once less; the last release drops the
// handle's reference to the object. Raise 5 for a handle that was released.
void AddHandleRef(quorvel_object* handle);
void ReleaseHandle(quorvel_object* handle);

}  // namespace quorvel::c_api

#endif  // QUORVEL_C_API_HANDLES_H_
