/* Every kind of variant into the library and back, at its boundaries, and
 * the variants the library refuses. */
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

static void test_scalars_keep_kind_and_value(void) {
  quorvel_variant cases[16];
  int n = 0;
  for (int i = 0; i < 16; ++i) quorvel_variant_init(&cases[i]);
  cases[n++].type = QUORVEL_EMPTY;
  cases[n++].type = QUORVEL_NULL;
  cases[n].type = QUORVEL_INTEGER, cases[n++].as.integer = INT16_MIN;
  cases[n].type = QUORVEL_INTEGER, cases[n++].as.integer = INT16_MAX;
  cases[n].type = QUORVEL_LONG, cases[n++].as.long_value = INT32_MIN;
  cases[n].type = QUORVEL_LONG, cases[n++].as.long_value = INT32_MAX;
  cases[n].type = QUORVEL_SINGLE, cases[n++].as.single = FLT_MAX;
  cases[n].type = QUORVEL_DOUBLE, cases[n++].as.double_value = DBL_TRUE_MIN;
  cases[n].type = QUORVEL_DOUBLE, cases[n++].as.double_value = -DBL_MAX;
  cases[n].type = QUORVEL_CURRENCY, cases[n++].as.currency = INT64_MIN;
  cases[n].type = QUORVEL_CURRENCY, cases[n++].as.currency = INT64_MAX;
  cases[n].type = QUORVEL_DATE, cases[n++].as.date = -657434.75;
  cases[n].type = QUORVEL_DATE, cases[n++].as.date = 2958465.5;
  cases[n].type = QUORVEL_ERROR, cases[n++].as.error_code = (int32_t)0x800A0005;
  cases[n].type = QUORVEL_BYTE, cases[n++].as.byte = 255;
  cases[n].type = QUORVEL_BYTE, cases[n++].as.byte = 0;
  for (int i = 0; i < n; ++i) {
    quorvel_variant back;
    CHECK_OK(round_trip(&cases[i], 0, &back));
    CHECK(back.type == cases[i].type);
    CHECK(back.flags == 0);
    CHECK(memcmp(&back.as, &cases[i].as, sizeof back.as) == 0);
  }
}

static void test_booleans_come_back_as_minus_one_or_zero(void) {
  const int16_t given[] = {1, -1, 7, 0};
  const int16_t expected[] = {-1, -1, -1, 0};
  for (int i = 0; i < 4; ++i) {
    quorvel_variant in, back;
    quorvel_variant_init(&in);
    in.type = QUORVEL_BOOLEAN;
    in.as.boolean = given[i];
    CHECK_OK(round_trip(&in, 0, &back));
    CHECK(back.type == QUORVEL_BOOLEAN && back.as.boolean == expected[i]);
  }
}

static void test_decimals_up_to_their_limits(void) {
  const quorvel_decimal cases[] = {
      {UINT64_MAX, UINT32_MAX, 0, 0},  /* the largest magnitude */
      {UINT64_MAX, UINT32_MAX, 28, 1}, /* and the smallest step, negative */
      {1, 0, 28, 0},
      {0, 0, 0, 0},
  };
  for (int i = 0; i < 4; ++i) {
    quorvel_variant in, back;
    quorvel_variant_init(&in);
    in.type = QUORVEL_DECIMAL;
    in.as.decimal = cases[i];
    CHECK_OK(round_trip(&in, 0, &back));
    CHECK(back.type == QUORVEL_DECIMAL);
    CHECK(back.as.decimal.lo == cases[i].lo &&
          back.as.decimal.hi == cases[i].hi);
    CHECK(back.as.decimal.scale == cases[i].scale);
    CHECK(back.as.decimal.negative == cases[i].negative);
  }
}

static void test_strings_in_utf8_and_utf16(void) {
  /* "h", e acute, euro sign, a NUL, and U+1F600 as a surrogate pair. */
  const char utf8[] = "h\xC3\xA9\xE2\x82\xAC\0\xF0\x9F\x98\x80";
  const uint16_t utf16[] = {'h', 0xE9, 0x20AC, 0, 0xD83D, 0xDE00};
  quorvel_variant in = c_text(""), back;
  in.as.utf8.data = utf8;
  in.as.utf8.size = sizeof utf8 - 1;

  CHECK_OK(round_trip(&in, 0, &back));
  CHECK(back.type == QUORVEL_STRING && back.flags == QUORVEL_OWNED);
  CHECK(back.as.utf8.size == sizeof utf8 - 1);
  CHECK(memcmp(back.as.utf8.data, utf8, sizeof utf8 - 1) == 0);
  CHECK(back.as.utf8.data[back.as.utf8.size] == 0);
  quorvel_variant_clear(&back);

  CHECK_OK(round_trip(&in, QUORVEL_UTF16, &back));
  CHECK(back.flags == (QUORVEL_OWNED | QUORVEL_UTF16));
  CHECK(back.as.utf16.size == 6);
  CHECK(memcmp(back.as.utf16.data, utf16, sizeof utf16) == 0);
  CHECK(back.as.utf16.data[6] == 0);
  quorvel_variant_clear(&back);
  CHECK(back.type == QUORVEL_EMPTY);

  in = c_text("");
  CHECK_OK(round_trip(&in, 0, &back));
  CHECK(c_is_text(&back, ""));
  quorvel_variant_clear(&back);
}

static void test_lone_surrogates_survive_only_in_utf16(void) {
  const uint16_t lone[] = {'a', 0xD800, 'b', 0xDFFF};
  quorvel_variant in, back;
  quorvel_variant_init(&in);
  in.type = QUORVEL_STRING;
  in.flags = QUORVEL_UTF16;
  in.as.utf16.data = lone;
  in.as.utf16.size = 4;
  CHECK_OK(round_trip(&in, QUORVEL_UTF16, &back));
  CHECK(back.as.utf16.size == 4 &&
        memcmp(back.as.utf16.data, lone, sizeof lone) == 0);
  quorvel_variant_clear(&back);
  CHECK_OK(round_trip(&in, 0, &back));
  CHECK(c_is_text(&back,
                  "a\xEF\xBF\xBD"
                  "b\xEF\xBF\xBD"));
  quorvel_variant_clear(&back);
}

static void test_ill_formed_utf8_is_refused(void) {
  const char* cases[] = {
      "\xC0\x80",         /* overlong NUL */
      "\xE0\x80\xAF",     /* overlong slash */
      "\xED\xA0\x80",     /* an encoded surrogate */
      "\xF4\x90\x80\x80", /* past U+10FFFF */
      "\xE2\x82",         /* cut short */
      "a\x80",            /* a stray continuation byte */
      "\xFF",
  };
  for (size_t i = 0; i < sizeof cases / sizeof *cases; ++i) {
    quorvel_variant in = c_text(cases[i]), back;
    CHECK_ERROR(round_trip(&in, 0, &back), 5, "KxQuorvel",
                "Invalid procedure call or argument: a String variant is not "
                "well-formed UTF-8");
  }
  quorvel_variant v;
  quorvel_variant_init(&v);
  CHECK_ERROR(quorvel_variant_set_utf8(&v, "\xC3", 1), 5, "KxQuorvel",
              "Invalid procedure call or argument: text is not well-formed "
              "UTF-8");
  CHECK(v.type == QUORVEL_EMPTY);
  quorvel_object* list = NULL;
  CHECK_ERROR(quorvel_create_object("C\xC3rray", &list), 5, "KxQuorvel",
              "Invalid procedure call or argument: class_name is not "
              "well-formed UTF-8");
  CHECK(list == NULL);
}

static void test_malformed_variants_are_refused(void) {
  struct {
    int32_t type;
    uint32_t flags;
    size_t text_size;
    uint8_t scale;
    const char* description;
  } cases[] = {
      {-1, 0, 0, 0, "a variant's kind code is not one of the library's"},
      {13, 0, 0, 0, "a variant's kind code is not one of the library's"},
      {15, 0, 0, 0, "a variant's kind code is not one of the library's"},
      {16, 0, 0, 0, "a variant's kind code is not one of the library's"},
      {18, 0, 0, 0, "a variant's kind code is not one of the library's"},
      {8192, 0, 0, 0, "a variant's kind code is not one of the library's"},
      {8192 + 18, 0, 0, 0, "a variant's kind code is not one of the library's"},
      {99999, 0, 0, 0, "a variant's kind code is not one of the library's"},
      {QUORVEL_STRING, 0, 3, 0, "a String variant's text is NULL"},
      {QUORVEL_STRING, QUORVEL_UTF16, 3, 0, "a String variant's text is NULL"},
      {QUORVEL_ARRAY + QUORVEL_VARIANT, 0, 0, 0, "an array variant holds NULL"},
      {QUORVEL_DECIMAL, 0, 0, 29, "a Decimal's scale is above 28"},
  };
  for (size_t i = 0; i < sizeof cases / sizeof *cases; ++i) {
    quorvel_variant in, back;
    quorvel_variant_init(&in);
    in.type = cases[i].type;
    in.flags = cases[i].flags;
    if (in.type == QUORVEL_DECIMAL) {
      in.as.decimal.scale = cases[i].scale;
    } else {
      in.as.utf8.size = cases[i].text_size; /* data stays NULL */
    }
    char description[160];
    snprintf(description, sizeof description,
             "Invalid procedure call or argument: %s", cases[i].description);
    CHECK_ERROR(round_trip(&in, 0, &back), 5, "KxQuorvel", description);
  }
}

static void test_arrays_keep_bounds_and_elements(void) {
  /* Two dimensions, 2 x 3, the second starting at 1. */
  const quorvel_bound bounds[] = {{0, 2}, {1, 3}};
  quorvel_array* grid = NULL;
  CHECK_OK(quorvel_array_create(QUORVEL_VARIANT, 2, bounds, &grid));
  for (size_t i = 0; i < 6; ++i) {
    quorvel_variant item = c_long((int32_t)(i * 10));
    CHECK_OK(quorvel_array_put(grid, i, &item));
  }
  quorvel_variant in, back;
  quorvel_variant_init(&in);
  in.type = QUORVEL_ARRAY + QUORVEL_VARIANT;
  in.as.array = grid;
  CHECK_OK(round_trip(&in, 0, &back));
  CHECK(back.type == QUORVEL_ARRAY + QUORVEL_VARIANT);
  CHECK(back.flags == QUORVEL_OWNED && back.as.array != grid);
  int32_t element_type = 0, dims = 0;
  size_t size = 0;
  CHECK_OK(quorvel_array_shape(back.as.array, &element_type, &dims, &size));
  CHECK(element_type == QUORVEL_VARIANT && dims == 2 && size == 6);
  quorvel_bound b;
  CHECK_OK(quorvel_array_bound(back.as.array, 2, &b));
  CHECK(b.lower == 1 && b.count == 3);
  CHECK_ERROR(quorvel_array_bound(back.as.array, 3, &b), 9, "KxQuorvel",
              "Subscript out of range");
  for (size_t i = 0; i < 6; ++i) {
    quorvel_variant item;
    CHECK_OK(quorvel_array_get(back.as.array, i, 0, &item));
    CHECK(item.type == QUORVEL_LONG && item.as.long_value == (int32_t)(i * 10));
  }
  quorvel_variant item;
  CHECK_ERROR(quorvel_array_get(back.as.array, 6, 0, &item), 9, "KxQuorvel",
              "Subscript out of range");
  CHECK(item.type == QUORVEL_EMPTY);
  quorvel_variant_clear(&back);

  /* A kind code that is not the array's own is refused. */
  in.type = QUORVEL_ARRAY + QUORVEL_BYTE;
  CHECK_ERROR(round_trip(&in, 0, &back), 5, "KxQuorvel",
              "Invalid procedure call or argument: an array variant's kind "
              "code is not its array's");
  quorvel_array_free(grid);
}

static void test_byte_and_string_arrays(void) {
  const quorvel_bound four = {0, 4};
  quorvel_array* bytes = NULL;
  CHECK_OK(quorvel_array_create(QUORVEL_BYTE, 1, &four, &bytes));
  uint8_t* data = NULL;
  size_t size = 0;
  CHECK_OK(quorvel_array_bytes(bytes, &data, &size));
  CHECK(size == 4);
  data[0] = 0, data[1] = 1, data[2] = 254, data[3] = 255;
  /* The bytes reach a codec unchanged. */
  quorvel_object* pi = c_create("CQuorvelPI");
  quorvel_variant arg;
  quorvel_variant_init(&arg);
  arg.type = QUORVEL_ARRAY + QUORVEL_BYTE;
  arg.as.array = bytes;
  quorvel_variant text = c_call(pi, "Base64_Encode", QUORVEL_METHOD, &arg, 1);
  CHECK(c_is_text(&text, "AAH+/w=="));
  quorvel_variant back = c_call(pi, "Base64_Decode", QUORVEL_METHOD, &text, 1);
  CHECK(back.type == QUORVEL_ARRAY + QUORVEL_BYTE);
  CHECK_OK(quorvel_array_bytes(back.as.array, &data, &size));
  CHECK(size == 4 && data[0] == 0 && data[2] == 254 && data[3] == 255);
  quorvel_variant item;
  CHECK_OK(quorvel_array_get(back.as.array, 3, 0, &item));
  CHECK(item.type == QUORVEL_BYTE && item.as.byte == 255);
  quorvel_variant_clear(&text);
  quorvel_variant_clear(&back);

  /* A String array converts what is put in it, and refuses what it cannot. */
  quorvel_array* texts = NULL;
  CHECK_OK(quorvel_array_create(QUORVEL_STRING, 1, &four, &texts));
  quorvel_variant seven = c_long(7);
  CHECK_OK(quorvel_array_put(texts, 0, &seven));
  CHECK_OK(quorvel_array_get(texts, 0, 0, &item));
  CHECK(c_is_text(&item, "7"));
  quorvel_variant_clear(&item);
  CHECK_ERROR(quorvel_array_bytes(texts, &data, &size), 13, "KxQuorvel",
              "Type mismatch");
  quorvel_array* longs = NULL;
  CHECK_OK(quorvel_array_create(QUORVEL_LONG, 1, &four, &longs));
  quorvel_variant word = c_text("seven");
  CHECK_ERROR(quorvel_array_put(longs, 0, &word), 13, "KxQuorvel",
              "Type mismatch");
  CHECK_ERROR(quorvel_array_put(longs, 4, &seven), 9, "KxQuorvel",
              "Subscript out of range");

  quorvel_array_free(bytes);
  quorvel_array_free(texts);
  quorvel_array_free(longs);
  quorvel_array_free(NULL);
  CHECK_OK(quorvel_release(pi));
}

static void test_array_creation_limits(void) {
  quorvel_bound bounds[61];
  for (int i = 0; i < 61; ++i) bounds[i].lower = 0, bounds[i].count = 1;
  quorvel_array* a = NULL;
  CHECK_OK(quorvel_array_create(QUORVEL_VARIANT, 60, bounds, &a));
  quorvel_array_free(a);
  CHECK_ERROR(quorvel_array_create(QUORVEL_VARIANT, 61, bounds, &a), 5,
              "KxQuorvel",
              "Invalid procedure call or argument: dims is not between 1 and "
              "60");
  CHECK(a == NULL);
  CHECK_ERROR(quorvel_array_create(QUORVEL_VARIANT, 0, bounds, &a), 5,
              "KxQuorvel",
              "Invalid procedure call or argument: dims is not between 1 and "
              "60");
  CHECK_ERROR(quorvel_array_create(QUORVEL_DOUBLE, 1, bounds, &a), 5,
              "KxQuorvel", "Invalid procedure call or argument");
  bounds[0].count = -1;
  CHECK_ERROR(quorvel_array_create(QUORVEL_VARIANT, 1, bounds, &a), 9,
              "KxQuorvel", "Subscript out of range");
  bounds[0].lower = INT32_MAX, bounds[0].count = 2;
  CHECK_ERROR(quorvel_array_create(QUORVEL_VARIANT, 1, bounds, &a), 9,
              "KxQuorvel", "Subscript out of range");
  bounds[0].lower = 0, bounds[0].count = 0;
  CHECK_OK(quorvel_array_create(QUORVEL_VARIANT, 1, bounds, &a));
  int32_t kind, dims;
  size_t size = 99;
  CHECK_OK(quorvel_array_shape(a, &kind, &dims, &size));
  CHECK(size == 0);
  quorvel_array_free(a);
  CHECK_ERROR(quorvel_array_create(QUORVEL_VARIANT, 1, NULL, &a), 5,
              "KxQuorvel",
              "Invalid procedure call or argument: bounds is NULL");
  CHECK_ERROR(quorvel_array_create(QUORVEL_VARIANT, 1, bounds, NULL), 5,
              "KxQuorvel", "Invalid procedure call or argument: out is NULL");
  CHECK_ERROR(quorvel_array_shape(NULL, &kind, &dims, &size), 5, "KxQuorvel",
              "Invalid procedure call or argument: array is NULL");
}

static void test_copy_and_clear_follow_ownership(void) {
  quorvel_variant text, copy;
  CHECK_OK(quorvel_variant_set_utf8(&text, "abc", 3));
  CHECK(text.flags == QUORVEL_OWNED);
  CHECK_OK(quorvel_variant_copy(&copy, &text));
  CHECK(c_is_text(&copy, "abc") && copy.as.utf8.data != text.as.utf8.data);
  quorvel_variant_clear(&text);
  quorvel_variant_clear(&copy);

  const uint16_t units[] = {0xDC00};
  CHECK_OK(quorvel_variant_set_utf16(&text, units, 1));
  CHECK_OK(quorvel_variant_copy(&copy, &text));
  CHECK(copy.flags == (QUORVEL_OWNED | QUORVEL_UTF16));
  CHECK(copy.as.utf16.size == 1 && copy.as.utf16.data[0] == 0xDC00);
  quorvel_variant_clear(&text);
  quorvel_variant_clear(&copy);

  /* Clearing a variant that points at the caller's text frees nothing. */
  char mine[] = "mine";
  quorvel_variant borrowed = c_text(mine);
  quorvel_variant_clear(&borrowed);
  CHECK(borrowed.type == QUORVEL_EMPTY && strcmp(mine, "mine") == 0);
  quorvel_variant_clear(NULL);

  CHECK_ERROR(quorvel_variant_copy(NULL, &text), 5, "KxQuorvel",
              "Invalid procedure call or argument: dst is NULL");
  CHECK_ERROR(quorvel_variant_set_utf8(&text, NULL, 2), 5, "KxQuorvel",
              "Invalid procedure call or argument: text is NULL");
  CHECK_OK(quorvel_variant_set_utf8(&text, NULL, 0));
  CHECK(c_is_text(&text, ""));
  quorvel_variant_clear(&text);
}

C_TEST_MAIN(test_scalars_keep_kind_and_value,
            test_booleans_come_back_as_minus_one_or_zero,
            test_decimals_up_to_their_limits, test_strings_in_utf8_and_utf16,
            test_lone_surrogates_survive_only_in_utf16,
            test_ill_formed_utf8_is_refused,
            test_malformed_variants_are_refused,
            test_arrays_keep_bounds_and_elements, test_byte_and_string_arrays,
            test_array_creation_limits, test_copy_and_clear_follow_ownership)
