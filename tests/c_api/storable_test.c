/* Whether a value would come back exactly, and calls that refuse rather than
 * lose: quorvel_check_storable and the QUORVEL_EXACT request. */
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include "c_test.h"

static quorvel_variant c_decimal(uint64_t lo, uint8_t scale) {
  quorvel_variant r;
  quorvel_variant_init(&r);
  r.type = QUORVEL_DECIMAL;
  r.as.decimal.lo = lo;
  r.as.decimal.hi = 0;
  r.as.decimal.scale = scale;
  r.as.decimal.negative = 0;
  return r;
}

static const char kRounded[] =
    "the number 0.123456 would be rounded to 4 decimal places";

static void test_check_names_the_first_place(void) {
  quorvel_variant text = c_text("a\xE6\x9D\xB1");
  quorvel_variant number = c_long(5);
  quorvel_variant rounded = c_decimal(123456, 6);
  CHECK_OK(quorvel_check_storable(&number, QUORVEL_STORABLE_MSGPACK));
  quorvel_variant plain = c_text("caf\xC3\xA9");
  CHECK_OK(quorvel_check_storable(&plain, QUORVEL_STORABLE_KV_KEY));
  CHECK_ERROR(quorvel_check_storable(&text, QUORVEL_STORABLE_KV_KEY), 5,
              "KxQuorvel",
              "character U+6771 (\xE6\x9D\xB1) at position 2 of the key has no "
              "Windows-1252 byte");
  CHECK_ERROR(quorvel_check_storable(&number, QUORVEL_STORABLE_KV_VALUE), 5,
              "KxQuorvel",
              "the value is Long, which would come back as a String");
  CHECK_ERROR(quorvel_check_storable(&rounded, QUORVEL_STORABLE_MSGPACK), 5,
              "KxQuorvel", kRounded);

  quorvel_object* dict = c_create("Scripting.Dictionary");
  quorvel_variant args[2] = {c_text("a b"), c_text("ok")};
  c_call(dict, "Add", QUORVEL_METHOD, args, 2);
  quorvel_variant doc = c_object(dict);
  CHECK_OK(quorvel_check_storable(&doc, QUORVEL_STORABLE_DOCUMENT));
  args[0] = c_text("x");
  quorvel_variant_init(&args[1]);
  c_call(dict, "Add", QUORVEL_METHOD, args, 2);
  CHECK_ERROR(quorvel_check_storable(&doc, QUORVEL_STORABLE_DOCUMENT), 5,
              "KxQuorvel",
              "the value at x is Empty, which a MessagePack encoding cannot "
              "hold");
  CHECK_ERROR(quorvel_check_storable(&doc, QUORVEL_STORABLE_RC4_TEXT), 5,
              "KxQuorvel",
              "the text is Dictionary, which would come back as a String");
  CHECK_OK(quorvel_release(dict));

  CHECK_ERROR(quorvel_check_storable(NULL, QUORVEL_STORABLE_TEXT), 5,
              "KxQuorvel", "Invalid procedure call or argument: value is NULL");
  CHECK_ERROR(quorvel_check_storable(&number, 7), 5, "KxQuorvel",
              "Invalid procedure call or argument: target is not a storable "
              "target");
}

static void test_exact_calls_refuse(void) {
  char dir[] = "/tmp/quorvel-exact-XXXXXX";
  CHECK(mkdtemp(dir) != NULL);
  char path[64];
  snprintf(path, sizeof path, "%s/e.kv", dir);
  quorvel_object* db = c_create("KxKVDB");
  quorvel_variant args[2] = {c_text(path), c_long(5)};
  c_call(db, "OpenDB", QUORVEL_METHOD, args, 1);
  args[0] = c_text("k");
  CHECK_ERROR(
      quorvel_call_by_name(db, "PutValue", QUORVEL_METHOD | QUORVEL_EXACT, args,
                           2, NULL),
      5, "CKVDB", "the value is Long, which would come back as a String");
  CHECK_OK(quorvel_call_by_name(db, "PutValue", QUORVEL_METHOD, args, 2, NULL));
  quorvel_variant r = c_call(db, "Item", QUORVEL_GET, args, 1);
  CHECK(c_is_text(&r, "5"));
  quorvel_variant_clear(&r);
  /* Opened under the request, the store stays exact. */
  args[0] = c_text(path);
  CHECK_OK(quorvel_call_by_name(db, "OpenDB", QUORVEL_METHOD | QUORVEL_EXACT,
                                args, 1, NULL));
  args[0] = c_text("\xE6\x9D\xB1");
  args[1] = c_text("v");
  CHECK_ERROR(quorvel_call_by_name(db, "", QUORVEL_LET, args, 2, NULL), 5,
              "CKVDB",
              "character U+6771 (\xE6\x9D\xB1) at position 1 of the key has no "
              "Windows-1252 byte");
  r = c_call(db, "Count", QUORVEL_GET, NULL, 0);
  CHECK(r.as.long_value == 1);
  CHECK_OK(quorvel_release(db));
  unlink(path);
  rmdir(dir);

  quorvel_object* pi = c_create("CQuorvelPI");
  quorvel_variant number = c_decimal(123456, 6);
  CHECK_ERROR(
      quorvel_call_by_name(pi, "MsgPack_Encode", QUORVEL_METHOD | QUORVEL_EXACT,
                           &number, 1, &r),
      5, "KxQuorvel", kRounded);
  CHECK(r.type == QUORVEL_EMPTY);
  r = c_call(pi, "MsgPack_Encode", QUORVEL_METHOD, &number, 1);
  CHECK(r.type == QUORVEL_ARRAY + QUORVEL_BYTE);
  quorvel_variant_clear(&r);
  CHECK_OK(quorvel_release(pi));
}

C_TEST_MAIN(test_check_names_the_first_place, test_exact_calls_refuse)
