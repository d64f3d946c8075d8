/* Every kind of variant into the library and back, at its boundaries; the
 * variants the library refuses; arrays; JSON text of a tree; and calls that
 * refuse rather than lose (quorvel_check_storable, QUORVEL_EXACT). */
#include <float.h>
#include <stdint.h>

#include "c_test.h"

/* Stores `in` in a CArray and reads it back into `out`. */
static int32_t round_trip(const quorvel_variant* in, uint32_t flags,
                          quorvel_variant* out) {
  quorvel_object* list = c_create("CArray");
  quorvel_variant index = c_long(0);
  quorvel_variant_init(out);
  int32_t status =
      quorvel_call_by_name(list, "Add", QUORVEL_METHOD, in, 1, NULL);
  if (status == 0)
    status = quorvel_call_by_name(list, "Item", QUORVEL_GET | (int32_t)flags,
                                  &index, 1, out);
  CHECK_OK(quorvel_release(list));
  return status;
}

static quorvel_variant of_kind(int32_t type) {
  quorvel_variant v;
  quorvel_variant_init(&v);
  v.type = type;
  return v;
}

static void test_scalars_keep_kind_and_value(void) {
  /* Static, so that the bytes of each payload past its member are zero. */
  static const quorvel_variant cases[] = {
      {QUORVEL_EMPTY, 0, {0}},
      {QUORVEL_NULL, 0, {0}},
      {QUORVEL_INTEGER, 0, {.integer = INT16_MIN}},
      {QUORVEL_INTEGER, 0, {.integer = INT16_MAX}},
      {QUORVEL_LONG, 0, {.long_value = INT32_MIN}},
      {QUORVEL_LONG, 0, {.long_value = INT32_MAX}},
      {QUORVEL_SINGLE, 0, {.single = FLT_MAX}},
      {QUORVEL_DOUBLE, 0, {.double_value = DBL_TRUE_MIN}},
      {QUORVEL_DOUBLE, 0, {.double_value = -DBL_MAX}},
      {QUORVEL_CURRENCY, 0, {.currency = INT64_MIN}},
      {QUORVEL_CURRENCY, 0, {.currency = INT64_MAX}},
      {QUORVEL_DATE, 0, {.date = -657434.75}},
      {QUORVEL_DATE, 0, {.date = 2958465.5}},
      {QUORVEL_ERROR, 0, {.error_code = (int32_t)0x800A0005}},
      {QUORVEL_BOOLEAN, 0, {.boolean = -1}},
      {QUORVEL_BOOLEAN, 0, {.boolean = 0}},
      {QUORVEL_BYTE, 0, {.byte = 255}},
      /* The largest magnitude, and the smallest step, negative. */
      {QUORVEL_DECIMAL, 0, {.decimal = {UINT64_MAX, UINT32_MAX, 0, 0}}},
      {QUORVEL_DECIMAL, 0, {.decimal = {UINT64_MAX, UINT32_MAX, 28, 1}}},
      {QUORVEL_DECIMAL, 0, {.decimal = {1, 0, 28, 1}}},
  };
  for (size_t i = 0; i < sizeof cases / sizeof *cases; ++i) {
    quorvel_variant back;
    CHECK_OK(round_trip(&cases[i], 0, &back));
    CHECK(back.type == cases[i].type && back.flags == 0);
    const quorvel_decimal *d = &back.as.decimal, *e = &cases[i].as.decimal;
    CHECK(back.type == QUORVEL_DECIMAL
              ? d->lo == e->lo && d->hi == e->hi && d->scale == e->scale &&
                    d->negative == e->negative
              : memcmp(&back.as, &cases[i].as, sizeof back.as) == 0);
  }
  /* Any other Boolean but 0 comes back as -1. */
  quorvel_variant in = of_kind(QUORVEL_BOOLEAN), back;
  in.as.boolean = 7;
  CHECK_OK(round_trip(&in, 0, &back));
  CHECK(back.type == QUORVEL_BOOLEAN && back.as.boolean == -1);
}

/* Text in UTF-8 from C (UTF-16 is the Python extension's). */
static void test_strings_in_utf8(void) {
  /* "h", e acute, a NUL, and U+1F600. */
  const char utf8[] = "h\xC3\xA9\0\xF0\x9F\x98\x80";
  quorvel_variant in = c_text(""), back;
  in.as.utf8.data = utf8;
  in.as.utf8.size = sizeof utf8 - 1;
  CHECK_OK(round_trip(&in, 0, &back));
  CHECK(back.type == QUORVEL_STRING && back.flags == QUORVEL_OWNED &&
        back.as.utf8.size == sizeof utf8 - 1 &&
        memcmp(back.as.utf8.data, utf8, sizeof utf8) == 0);
  quorvel_variant_clear(&back);
  CHECK(back.type == QUORVEL_EMPTY);
  /* Lone surrogates come out as U+FFFD; ill-formed UTF-8 is refused
   * wherever it comes in. */
  const uint16_t lone[] = {'a', 0xD800, 'b', 0xDFFF};
  in = (quorvel_variant){QUORVEL_STRING, QUORVEL_UTF16, {.utf16 = {lone, 4}}};
  CHECK_OK(round_trip(&in, 0, &back));
  CHECK(c_is_text(&back,
                  "a\xEF\xBF\xBD"
                  "b\xEF\xBF\xBD"));
  quorvel_variant_clear(&back);
  in = c_text("\xED\xA0\x80");
  CHECK_BAD(round_trip(&in, 0, &back),
            "a String variant is not well-formed UTF-8");
  quorvel_variant text = c_long(1);
  CHECK_BAD(quorvel_variant_set_utf8(&text, "\xC3", 1),
            "text is not well-formed UTF-8");
  CHECK(text.type == QUORVEL_LONG);
  quorvel_object* list = NULL;
  CHECK_BAD(quorvel_create_object("C\xC3rray", &list),
            "class_name is not well-formed UTF-8");
  CHECK_BAD(quorvel_variant_copy(NULL, &text), "dst is NULL");
  CHECK_BAD(quorvel_variant_set_utf8(&text, NULL, 2), "text is NULL");
  CHECK_OK(quorvel_variant_set_utf8(&text, NULL, 0));
  CHECK(c_is_text(&text, ""));
  quorvel_variant_clear(&text);
}

static void test_malformed_variants_are_refused(void) {
  const struct {
    int32_t type;
    uint32_t flags;
    size_t text_size;
    uint8_t scale;
    const char* description;
  } cases[] = {
#define KIND "a variant's kind code is not one of the library's"
      {-1, 0, 0, 0, KIND},
      {18, 0, 0, 0, KIND},
      {QUORVEL_ARRAY + 18, 0, 0, 0, KIND},
      {QUORVEL_STRING, QUORVEL_UTF16, 3, 0, "a String variant's text is NULL"},
      {QUORVEL_ARRAY + QUORVEL_VARIANT, 0, 0, 0, "an array variant holds NULL"},
      {QUORVEL_DECIMAL, 0, 0, 29, "a Decimal's scale is above 28"},
  };
  for (size_t i = 0; i < sizeof cases / sizeof *cases; ++i) {
    quorvel_variant in = of_kind(cases[i].type), back;
    in.flags = cases[i].flags;
    if (in.type == QUORVEL_DECIMAL) {
      in.as.decimal.scale = cases[i].scale;
    } else {
      in.as.utf8.size = cases[i].text_size; /* data stays NULL */
    }
    char description[160];
    snprintf(description, sizeof description,
             "Invalid procedure call or argument: %s", cases[i].description);
    CHECK_KX(round_trip(&in, 0, &back), 5, description);
  }
}

static void test_arrays(void) {
  /* Two dimensions, 2 x 3, the second starting at 1. */
  const quorvel_bound bounds[] = {{0, 2}, {1, 3}};
  quorvel_array* grid = NULL;
  CHECK_OK(quorvel_array_create(QUORVEL_VARIANT, 2, bounds, &grid));
  quorvel_variant in = {QUORVEL_ARRAY + QUORVEL_VARIANT, 0, {.array = grid}};
  quorvel_variant back, item = c_long(50);
  CHECK_OK(quorvel_array_put(grid, 5, &item));
  CHECK_OK(round_trip(&in, 0, &back));
  CHECK(back.type == QUORVEL_ARRAY + QUORVEL_VARIANT &&
        back.flags == QUORVEL_OWNED && back.as.array != grid);
  quorvel_bound b;
  CHECK_OK(quorvel_array_bound(back.as.array, 2, &b));
  CHECK(b.lower == 1 && b.count == 3);
  CHECK_OK(quorvel_array_get(back.as.array, 5, 0, &item));
  CHECK(item.type == QUORVEL_LONG && item.as.long_value == 50);
  CHECK_KX(quorvel_array_get(back.as.array, 6, 0, &item), 9,
           "Subscript out of range");
  CHECK(item.type == QUORVEL_EMPTY);
  quorvel_variant_clear(&back);
  in.type = QUORVEL_ARRAY + QUORVEL_BYTE; /* not the array's own kind */
  CHECK_BAD(round_trip(&in, 0, &back),
            "an array variant's kind code is not its array's");
  quorvel_array_free(grid);
  quorvel_array_free(NULL);

  /* A Long array has no bytes to lend. */
  quorvel_bound many[61];
  for (int i = 0; i < 61; ++i) many[i].lower = 0, many[i].count = 1;
  quorvel_array* a = NULL;
  uint8_t* data = NULL;
  size_t size = 0;
  CHECK_OK(quorvel_array_create(QUORVEL_LONG, 1, many, &a));
  CHECK_KX(quorvel_array_bytes(a, &data, &size), 13, "Type mismatch");
  quorvel_array_free(a);

  /* Creation: 1 to 60 dimensions, counts that fit, a kind that may be. */
  CHECK_OK(quorvel_array_create(QUORVEL_VARIANT, 60, many, &a));
  quorvel_array_free(a);
  CHECK_BAD(quorvel_array_create(QUORVEL_VARIANT, 61, many, &a),
            "dims is not between 1 and 60");
  CHECK(a == NULL);
  CHECK_BAD(quorvel_array_create(QUORVEL_VARIANT, 0, many, &a),
            "dims is not between 1 and 60");
  CHECK_KX(quorvel_array_create(QUORVEL_DOUBLE, 1, many, &a), 5,
           "Invalid procedure call or argument");
  many[0].lower = INT32_MAX, many[0].count = 2;
  CHECK_KX(quorvel_array_create(QUORVEL_VARIANT, 1, many, &a), 9,
           "Subscript out of range");
  many[0].lower = 0, many[0].count = 0;
  CHECK_OK(quorvel_array_create(QUORVEL_VARIANT, 1, many, &a));
  int32_t element_type = 0, dims = 0;
  CHECK_OK(quorvel_array_shape(a, &element_type, &dims, &size));
  CHECK(element_type == QUORVEL_VARIANT && dims == 1 && size == 0);
  quorvel_array_free(a);
  CHECK_BAD(quorvel_array_create(QUORVEL_VARIANT, 1, NULL, &a),
            "bounds is NULL");
  CHECK_BAD(quorvel_array_shape(NULL, &element_type, &dims, &size),
            "array is NULL");
}

/* quorvel_json_write: the C flag and indent reach the writer, whose text
 * the caller owns. */
static void test_json_write(void) {
  quorvel_object* list = c_create("CArray");
  quorvel_variant args[2] = {c_long(7), c_text("\xC3\xA9")};
  c_call(list, "AddMultiple", QUORVEL_METHOD, args, 2);
  quorvel_variant tree = c_object(list), out;
  CHECK_OK(quorvel_json_write(&tree, 2, QUORVEL_JSON_ASCII, &out));
  CHECK(c_is_text(&out, "[\n  7,\n  \"\\u00e9\"\n]") &&
        out.flags == QUORVEL_OWNED);
  quorvel_variant_clear(&out);
  CHECK_BAD(quorvel_json_write(&tree, 0, 2, &out),
            "flags holds an unknown flag");
  CHECK_OK(quorvel_release(list));
}

static const char kRounded[] =
    "the number 0.123456 would be rounded to 4 decimal places";

/* Whether a value would come back exactly, and calls that refuse rather
 * than lose. */
static void test_storable_and_exact_calls(void) {
  quorvel_variant number = c_long(5), key = c_text("a\xE6\x9D\xB1");
  quorvel_variant rounded = of_kind(QUORVEL_DECIMAL),
                  plain = c_text("caf\xC3\xA9");
  rounded.as.decimal.lo = 123456, rounded.as.decimal.scale = 6;
  CHECK_OK(quorvel_check_storable(&number, QUORVEL_STORABLE_MSGPACK));
  CHECK_OK(quorvel_check_storable(&plain, QUORVEL_STORABLE_KV_KEY));
  CHECK_KX(quorvel_check_storable(&key, QUORVEL_STORABLE_KV_KEY), 5,
           "character U+6771 (\xE6\x9D\xB1) at position 2 of the key has no "
           "Windows-1252 byte");
  CHECK_KX(quorvel_check_storable(&number, QUORVEL_STORABLE_KV_VALUE), 5,
           "the value is Long, which would come back as a String");
  CHECK_KX(quorvel_check_storable(&rounded, QUORVEL_STORABLE_MSGPACK), 5,
           kRounded);
  quorvel_object* dict = c_create("Scripting.Dictionary");
  quorvel_variant args[2] = {c_text("x"), of_kind(QUORVEL_EMPTY)};
  c_call(dict, "Add", QUORVEL_METHOD, args, 2);
  quorvel_variant doc = c_object(dict);
  CHECK_KX(quorvel_check_storable(&doc, QUORVEL_STORABLE_DOCUMENT), 5,
           "the value at x is Empty, which a MessagePack encoding cannot hold");
  CHECK_KX(quorvel_check_storable(&doc, QUORVEL_STORABLE_RC4_TEXT), 5,
           "the text is Dictionary, which would come back as a String");
  CHECK_OK(quorvel_release(dict));
  CHECK_BAD(quorvel_check_storable(NULL, QUORVEL_STORABLE_TEXT),
            "value is NULL");
  CHECK_BAD(quorvel_check_storable(&number, 7),
            "target is not a storable target");

  /* A call made under the request refuses rather than rounds. */
  quorvel_variant r;
  quorvel_object* pi = c_create("CQuorvelPI");
  CHECK_KX(
      quorvel_call_by_name(pi, "MsgPack_Encode", QUORVEL_METHOD | QUORVEL_EXACT,
                           &rounded, 1, &r),
      5, kRounded);
  CHECK(r.type == QUORVEL_EMPTY);
  r = c_call(pi, "MsgPack_Encode", QUORVEL_METHOD, &rounded, 1);
  CHECK(r.type == QUORVEL_ARRAY + QUORVEL_BYTE);
  quorvel_variant_clear(&r);
  CHECK_OK(quorvel_release(pi));
}

C_TEST_MAIN(test_scalars_keep_kind_and_value, test_strings_in_utf8,
            test_malformed_variants_are_refused, test_arrays, test_json_write,
            test_storable_and_exact_calls)
