/* quorvel_json_write: a tree in its compact, indented and ASCII forms, and
 * what it refuses. */
#include <math.h>

#include "c_test.h"

static void test_writes_a_tree_in_each_form(void) {
  quorvel_object* dict = c_create("Scripting.Dictionary");
  quorvel_object* list = c_create("CArray");
  quorvel_variant args[2];
  args[0] = c_long(7);
  CHECK_OK(quorvel_call_by_name(list, "Add", QUORVEL_METHOD, args, 1, NULL));
  args[0].type = QUORVEL_NULL;
  CHECK_OK(quorvel_call_by_name(list, "Add", QUORVEL_METHOD, args, 1, NULL));
  args[0] = c_text("k\xC3\xA9y");
  args[1] = c_text("caf\xC3\xA9 \"\xF0\x9F\x98\x80\"\n");
  CHECK_OK(quorvel_call_by_name(dict, "Add", QUORVEL_METHOD, args, 2, NULL));
  args[0] = c_text("list");
  args[1] = c_object(list);
  CHECK_OK(quorvel_call_by_name(dict, "Add", QUORVEL_METHOD, args, 2, NULL));

  const struct {
    int32_t indent;
    uint32_t flags;
    const char* text;
  } cases[] = {
      {0, 0,
       "{\"k\xC3\xA9y\":\"caf\xC3\xA9 \\\"\xF0\x9F\x98\x80\\\"\\n\","
       "\"list\":[7,null]}"},
      {0, QUORVEL_JSON_ASCII,
       "{\"k\\u00e9y\":\"caf\\u00e9 \\\"\\ud83d\\ude00\\\"\\n\","
       "\"list\":[7,null]}"},
      {2, 0,
       "{\n  \"k\xC3\xA9y\": \"caf\xC3\xA9 \\\"\xF0\x9F\x98\x80\\\"\\n\",\n"
       "  \"list\": [\n    7,\n    null\n  ]\n}"},
  };
  quorvel_variant tree = c_object(dict);
  for (size_t i = 0; i < sizeof cases / sizeof *cases; ++i) {
    quorvel_variant out;
    quorvel_variant_init(&out);
    CHECK_OK(quorvel_json_write(&tree, cases[i].indent, cases[i].flags, &out));
    CHECK(c_is_text(&out, cases[i].text));
    CHECK(out.flags == QUORVEL_OWNED);
    quorvel_variant_clear(&out);
  }
  CHECK_OK(quorvel_release(list));
  CHECK_OK(quorvel_release(dict));
}

static void test_refuses_what_json_cannot_hold(void) {
  quorvel_variant out;
  quorvel_variant_init(&out);
  quorvel_variant value;
  quorvel_variant_init(&value);
  value.type = QUORVEL_DOUBLE;
  value.as.double_value = NAN;
  CHECK_ERROR(quorvel_json_write(&value, 0, 0, &out), 5, "JSON",
              "JSON has no form for NaN or an infinity");
  value.as.double_value = -0.0;
  CHECK_OK(quorvel_json_write(&value, 0, 0, &out));
  CHECK(c_is_text(&out, "-0"));
  quorvel_variant_clear(&out);
  value.type = QUORVEL_ERROR;
  value.as.error_code = 5;
  CHECK_ERROR(quorvel_json_write(&value, 0, 0, &out), 13, "KxQuorvel",
              "Type mismatch");
  value.type = QUORVEL_NULL;
  CHECK_ERROR(quorvel_json_write(&value, 17, 0, &out), 5, "JSON",
              "the indent must be 0 to 16");
  CHECK_ERROR(quorvel_json_write(&value, 0, 2, &out), 5, "KxQuorvel",
              "Invalid procedure call or argument: flags holds an unknown "
              "flag");
  CHECK_ERROR(quorvel_json_write(&value, 0, 0, NULL), 5, "KxQuorvel",
              "Invalid procedure call or argument: out is NULL");
  CHECK(out.type == QUORVEL_EMPTY);
}

C_TEST_MAIN(test_writes_a_tree_in_each_form, test_refuses_what_json_cannot_hold)
