/* The C interface of Quorvel: create the library's classes by name, call
 * their members by name, and read what comes back as plain C data. It is the
 * late-binding path of the C++ library and nothing else; no C++ type crosses
 * it, and it compiles as C11 and as C++.
 *
 * Link with libquorvel_c.so (CMake: quorvel::quorvel_c; pkg-config:
 * quorvel_c).
 *
 * Status. Every function that can fail returns an int32_t status: 0 on
 * success, otherwise the error number (the same number that
 * quorvel_last_error_number() gives). The number, source and description of
 * the last failure on the calling thread stay readable until the next
 * failure on that thread. No C++ exception and no abort() ever leaves a
 * function of this interface; a NULL pointer where one is needed, a handle
 * that was released, a bad kind code or ill-formed UTF-8 is reported as
 * error 5 with a description that names the argument.
 *
 * Variants. A quorvel_variant is a kind code (the VarType of the value) and
 * its payload. A variant the library fills belongs to the caller, who frees
 * what it holds with quorvel_variant_clear(). A variant the caller passes in
 * is only read, never kept and never freed: the library copies what it
 * needs. The QUORVEL_OWNED flag says which variants own their payload, so
 * quorvel_variant_clear() is harmless on a variant that points at the
 * caller's own memory.
 *
 * Threads. The library runs on the caller's thread. One object is used by
 * one thread at a time; handles may be added to and released from any
 * thread. */
#ifndef QUORVEL_QUORVEL_C_H_
#define QUORVEL_QUORVEL_C_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define QUORVEL_C_API __attribute__((visibility("default")))
#else
#define QUORVEL_C_API
#endif

/* Kind codes: a variant's `type` is one of these, or QUORVEL_ARRAY plus the
 * element kind (QUORVEL_VARIANT, QUORVEL_BYTE, QUORVEL_STRING, QUORVEL_LONG
 * or QUORVEL_INTEGER) for an array. */
enum {
  QUORVEL_EMPTY = 0,
  QUORVEL_NULL = 1,
  QUORVEL_INTEGER = 2,  /* int16_t */
  QUORVEL_LONG = 3,     /* int32_t */
  QUORVEL_SINGLE = 4,   /* float */
  QUORVEL_DOUBLE = 5,   /* double */
  QUORVEL_CURRENCY = 6, /* int64_t, the amount times 10,000 */
  QUORVEL_DATE = 7,     /* double day number; 0 is 30 December 1899 */
  QUORVEL_STRING = 8,   /* UTF-8, or UTF-16 when QUORVEL_UTF16 is set */
  QUORVEL_OBJECT = 9,   /* a handle; NULL is Nothing */
  QUORVEL_ERROR = 10,   /* a 32-bit code; QUORVEL_MISSING omits an argument */
  QUORVEL_BOOLEAN = 11, /* -1 for True, 0 for False */
  QUORVEL_VARIANT = 12, /* only as an array's element kind */
  QUORVEL_DECIMAL = 14,
  QUORVEL_BYTE = 17,
  QUORVEL_ARRAY = 8192
};

/* The error code of Missing: an argument left out. */
#define QUORVEL_MISSING ((int32_t)0x80020004u)

/* How a member is called (the call_type of quorvel_call_by_name) and how a
 * member is declared (quorvel_member_info.call_type). Method and Get both
 * read; Let and Set write the last argument. */
enum { QUORVEL_METHOD = 1, QUORVEL_GET = 2, QUORVEL_LET = 4, QUORVEL_SET = 8 };

/* Variant flags. */
enum {
  /* The variant owns its payload: string memory, an array, or one count of
   * an object handle. quorvel_variant_clear() frees or releases it. */
  QUORVEL_OWNED = 1,
  /* A String's text is UTF-16 (`as.utf16`) rather than UTF-8 (`as.utf8`).
   * Also a request: or'ed into a call_type or passed as `flags`, it asks for
   * String results in UTF-16, which keeps every code unit (lone surrogates
   * included) where UTF-8 would put U+FFFD. */
  QUORVEL_UTF16 = 0x100,
  /* A request, or'ed into a call_type: the call refuses rather than loses.
   * Writes and encodes it makes (KxKVDB PutValue and Item, KxDocsDB AddDoc
   * and Save, MsgPack_Encode, RC4_Encrypt) raise 5, naming the place,
   * instead of storing '?' for a character without a Windows-1252 byte,
   * rounding a Decimal or turning a value into text; a database opened by
   * such a call stays so until it is opened again. */
  QUORVEL_EXACT = 0x200
};

typedef struct quorvel_object quorvel_object; /* an opaque handle */
typedef struct quorvel_array quorvel_array;   /* an opaque array */

/* A 96-bit decimal: (-1)^negative * (hi * 2^64 + lo) / 10^scale, scale 0 to
 * 28. */
typedef struct quorvel_decimal {
  uint64_t lo;
  uint32_t hi;
  uint8_t scale;
  uint8_t negative;
} quorvel_decimal;

typedef struct quorvel_variant {
  int32_t type;   /* a kind code */
  uint32_t flags; /* QUORVEL_OWNED, QUORVEL_UTF16 */
  union {
    int16_t integer;
    int32_t long_value;
    float single;
    double double_value;
    int64_t currency;
    double date;
    int16_t boolean;
    int32_t error_code;
    uint8_t byte;
    quorvel_decimal decimal;
    struct {
      const char* data; /* not zero-terminated when it comes from a caller */
      size_t size;      /* in bytes */
    } utf8;
    struct {
      const uint16_t* data;
      size_t size; /* in code units */
    } utf16;
    quorvel_object* object;
    quorvel_array* array;
  } as;
} quorvel_variant;

/* ---- Variants ---- */

/* Makes `v` Empty without looking at what it held. */
QUORVEL_C_API void quorvel_variant_init(quorvel_variant* v);
/* Frees or releases what `v` owns and makes it Empty. NULL is allowed. */
QUORVEL_C_API void quorvel_variant_clear(quorvel_variant* v);
/* Make `v` an owned String holding a copy of the text. The UTF-8 form
 * raises 5 for ill-formed UTF-8 and leaves `v` unchanged. */
QUORVEL_C_API int32_t quorvel_variant_set_utf8(quorvel_variant* v,
                                               const char* text, size_t size);
QUORVEL_C_API int32_t quorvel_variant_set_utf16(quorvel_variant* v,
                                                const uint16_t* text,
                                                size_t size);
/* Makes `dst` an owned copy of `src`: strings and arrays copied, object
 * handles counted once more. `dst` is overwritten, not cleared. */
QUORVEL_C_API int32_t quorvel_variant_copy(quorvel_variant* dst,
                                           const quorvel_variant* src);

/* ---- Arrays ----
 * An array has 1 to 60 dimensions, each a lower bound and an element count,
 * and one element kind. Elements are numbered flat from 0 with the first
 * dimension varying fastest. */

typedef struct quorvel_bound {
  int32_t lower;
  int32_t count;
} quorvel_bound;

/* Creates an array whose elements are Empty, 0 or "" by kind. Raises 5 for
 * an element kind other than QUORVEL_VARIANT, _BYTE, _STRING, _LONG or
 * _INTEGER, or a dimension count outside 1..60; 9 for a negative count. */
QUORVEL_C_API int32_t quorvel_array_create(int32_t element_type, int32_t dims,
                                           const quorvel_bound* bounds,
                                           quorvel_array** out);
QUORVEL_C_API void quorvel_array_free(quorvel_array* array); /* NULL is fine */
/* Tells the element kind, the number of dimensions and the element count. */
QUORVEL_C_API int32_t quorvel_array_shape(const quorvel_array* array,
                                          int32_t* element_type, int32_t* dims,
                                          size_t* size);
/* Gives dimension `dimension` (1-based); raises 9 for one it lacks. */
QUORVEL_C_API int32_t quorvel_array_bound(const quorvel_array* array,
                                          int32_t dimension,
                                          quorvel_bound* out);
/* Read and write element `flat`; 9 outside 0..size-1. A write converts to
 * the element kind and raises what the conversion raises (13, 6). `flags`
 * may ask for QUORVEL_UTF16 strings. */
QUORVEL_C_API int32_t quorvel_array_get(const quorvel_array* array, size_t flat,
                                        uint32_t flags, quorvel_variant* out);
QUORVEL_C_API int32_t quorvel_array_put(quorvel_array* array, size_t flat,
                                        const quorvel_variant* value);
/* Gives the bytes of a Byte array, to read or fill in place; 13 for an array
 * of another kind. */
QUORVEL_C_API int32_t quorvel_array_bytes(quorvel_array* array, uint8_t** data,
                                          size_t* size);

/* ---- Objects ---- */

/* Creates a public class by name, any letter case, with or without the
 * "KxQuorvel." prefix ("CArray", "Scripting.Dictionary"); 429 for a name
 * that names no class. `*out` carries one count. */
QUORVEL_C_API int32_t quorvel_create_object(const char* class_name,
                                            quorvel_object** out);
/* Calls the member `name` (any letter case; "" for the default member).
 * `call_type` is QUORVEL_METHOD, _GET, _LET or _SET, optionally or'ed with
 * QUORVEL_UTF16 and QUORVEL_EXACT. For Let and Set the new value is the last
 * argument. A QUORVEL_ERROR argument holding QUORVEL_MISSING omits that
 * argument. `result` may be NULL to drop the result. Raises what the member
 * raises, 91 for a NULL object, 438 for a member the class lacks, 450 for a
 * wrong number of arguments, 13 for an argument of the wrong kind. The
 * handle's count keeps the object alive for the call: a callback must not
 * release the last count of the handle being called. */
QUORVEL_C_API int32_t quorvel_call_by_name(quorvel_object* object,
                                           const char* name, int32_t call_type,
                                           const quorvel_variant* args,
                                           size_t nargs,
                                           quorvel_variant* result);
/* A member of a class, found once and called many times without looking
 * its name up again: the same for every object of that class, valid for the
 * life of the process. */
typedef struct quorvel_member quorvel_member;
/* Finds the member `name` (any letter case; "" for the default member) of
 * the object's class that answers `call_type` (QUORVEL_METHOD, _GET, _LET or
 * _SET); 91 for a NULL object, 438 for a member the class lacks. */
QUORVEL_C_API int32_t quorvel_find_member(quorvel_object* object,
                                          const char* name, int32_t call_type,
                                          const quorvel_member** out);
/* Calls `member` as quorvel_call_by_name calls it by name; `flags` may hold
 * QUORVEL_UTF16 and QUORVEL_EXACT. Raises 438 when `member` is not a member
 * of the object's class, and what quorvel_call_by_name raises. */
QUORVEL_C_API int32_t quorvel_call_member(
    quorvel_object* object, const quorvel_member* member, int32_t flags,
    const quorvel_variant* args, size_t nargs, quorvel_variant* result);
/* Each handle names one live object; the same object always comes back as
 * the same handle while any count of it is held, so handles compare for
 * identity. A released handle is recognised and refused (5), not used. */
QUORVEL_C_API int32_t quorvel_add_ref(quorvel_object* object);
QUORVEL_C_API int32_t quorvel_release(quorvel_object* object);

/* Starts enumerating `object` through its `_NewEnum` member; `*out` is the
 * enumerator, with one count. */
QUORVEL_C_API int32_t quorvel_enumerate(quorvel_object* object,
                                        quorvel_object** out);
/* Steps `enumerator` on: sets `*fetched` to 1 and fills `item`, or sets it to
 * 0 past the last element (leaving `item` Empty). */
QUORVEL_C_API int32_t quorvel_enum_next(quorvel_object* enumerator,
                                        uint32_t flags, quorvel_variant* item,
                                        int32_t* fetched);

/* ---- Member lists ----
 * What late binding can call on an object, for bindings that offer
 * completion. The data are built once per class and live as long as the
 * process; never free them. */

enum {
  QUORVEL_PARAM_OPTIONAL = 1,    /* may be left out or passed as Missing */
  QUORVEL_PARAM_HAS_DEFAULT = 2, /* left out, it takes a declared default */
  QUORVEL_PARAM_ARRAY = 4        /* the last parameter: any number of Values */
};

typedef struct quorvel_param_info {
  const char* name;
  uint32_t flags;
} quorvel_param_info;

typedef struct quorvel_member_info {
  const char* name;
  int32_t call_type; /* QUORVEL_METHOD, _GET, _LET or _SET */
  int32_t param_count;
  const quorvel_param_info* params; /* for Let/Set the last is the value */
} quorvel_member_info;

typedef struct quorvel_class_info {
  const char* name;           /* the class name, e.g. "CArray" */
  const char* default_member; /* "" when the class has none */
  int32_t member_count;
  const quorvel_member_info* members; /* a name may appear once per kind */
} quorvel_class_info;

QUORVEL_C_API int32_t quorvel_object_class(quorvel_object* object,
                                           const quorvel_class_info** out);

/* ---- Callbacks ----
 * A C function as an ISortCallback (for CArray.Map and SortByKey) or an
 * IFilterCallback (for CArray.Filter). The function returns 0, or an error
 * number after quorvel_set_error() so that the library raises that error.
 * `value` is the element, only for reading; `result` starts Empty and is
 * handed to the library, which reads it and then clears it, so what it
 * should free carries QUORVEL_OWNED (the quorvel_variant_set_ functions and
 * quorvel_variant_copy make such variants). `release`, when not NULL, is
 * called with `context` when the callback object is destroyed, or at once
 * when making it fails. `flags` may ask for QUORVEL_UTF16 strings in
 * `value`. Callbacks nested more than 100 deep raise 28. */

typedef int32_t (*quorvel_apply_fn)(void* context, const quorvel_variant* value,
                                    quorvel_variant* result);
typedef int32_t (*quorvel_test_fn)(void* context, const quorvel_variant* value,
                                   int32_t* keep);
typedef void (*quorvel_release_fn)(void* context);

QUORVEL_C_API int32_t quorvel_create_sort_callback(quorvel_apply_fn apply,
                                                   void* context,
                                                   quorvel_release_fn release,
                                                   uint32_t flags,
                                                   quorvel_object** out);
QUORVEL_C_API int32_t quorvel_create_filter_callback(quorvel_test_fn test,
                                                     void* context,
                                                     quorvel_release_fn release,
                                                     uint32_t flags,
                                                     quorvel_object** out);
/* Gives the context of a callback object made by one of the two functions
 * above, and its function (as a plain pointer, to tell callers apart); 13
 * for any other object. */
QUORVEL_C_API int32_t quorvel_callback_context(quorvel_object* object,
                                               void** context,
                                               void (**function)(void));

/* ---- Storability ----
 * Whether a value would come back exactly from a store or codec. */

enum {
  QUORVEL_STORABLE_TEXT = 1,     /* Windows-1252 text: an id, an RC4 key */
  QUORVEL_STORABLE_KV_KEY = 2,   /* such text of at most 32,767 characters */
  QUORVEL_STORABLE_KV_VALUE = 3, /* such text */
  QUORVEL_STORABLE_MSGPACK = 4,  /* what MsgPack_Encode holds exactly */
  QUORVEL_STORABLE_DOCUMENT = 5, /* a KxDocRec or Dictionary of such */
  QUORVEL_STORABLE_RC4_TEXT = 6  /* Windows-1252 text without U+0000 */
};

/* Returns 0 when `value` would come back exactly from `target`; otherwise
 * 5, with the last error's description naming the first place that would
 * not ("character U+6771 (東) at position 2 of address.city[2] has no
 * Windows-1252 byte") and source "KxQuorvel". Also 5 for a NULL value or
 * an unknown target, and what a foreign container's members raise. */
QUORVEL_C_API int32_t quorvel_check_storable(const quorvel_variant* value,
                                             int32_t target);

/* ---- JSON ---- */

enum {
  /* Every character past U+007E as a \uXXXX escape: ASCII text. */
  QUORVEL_JSON_ASCII = 1
};

/* Writes `value` and all it holds as standard JSON text (RFC 8259) into
 * `out`, an owned UTF-8 String: objects of type Dictionary and KxDocRec as
 * JSON objects, CArray and Collection objects and one-dimensional arrays as
 * JSON arrays, Empty, Null and Nothing as null, numbers in the shortest
 * (Double, Single) or exact (Decimal, Currency) text, Dates in ISO 8601,
 * lone surrogates as \uXXXX. `indent` is 0 for compact text or the spaces
 * per level (up to 16), one member or element a line. `flags` is 0 or
 * QUORVEL_JSON_ASCII. Raises 5 for NaN, an infinity, a bad indent or flag,
 * 13 for an Error value, an array of several dimensions or another object,
 * 28 for containers nested more than 1000 deep (one that holds itself). */
QUORVEL_C_API int32_t quorvel_json_write(const quorvel_variant* value,
                                         int32_t indent, uint32_t flags,
                                         quorvel_variant* out);

/* ---- Errors ---- */

/* The last failure on this thread: number (0 when none yet), source and
 * description. The texts are zero-terminated UTF-8 (or UTF-16, with their
 * length in `*size` when `size` is not NULL) and stay valid until the next
 * failure on this thread. */
QUORVEL_C_API int32_t quorvel_last_error_number(void);
QUORVEL_C_API const char* quorvel_last_error_source(void);
QUORVEL_C_API const char* quorvel_last_error_description(void);
QUORVEL_C_API const uint16_t* quorvel_last_error_source_utf16(size_t* size);
QUORVEL_C_API const uint16_t* quorvel_last_error_description_utf16(
    size_t* size);
/* Records an error as the last failure and returns `number`, so that a
 * callback can `return quorvel_set_error(...)`. NULL texts count as empty;
 * an empty source becomes "KxQuorvel". Ill-formed UTF-8 in the texts
 * becomes U+FFFD. */
QUORVEL_C_API int32_t quorvel_set_error(int32_t number, const char* source,
                                        const char* description);
QUORVEL_C_API int32_t quorvel_set_error_utf16(int32_t number,
                                              const uint16_t* source,
                                              size_t source_size,
                                              const uint16_t* description,
                                              size_t description_size);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QUORVEL_QUORVEL_C_H_ */
