/* A C client of the installed C interface: it sees only quorvel_c.h and
 * exits non-zero on the first surprise. */
#include <quorvel/quorvel_c.h>
#include <stdio.h>
#include <string.h>

static int fail(const char* what) {
  fprintf(stderr, "consumer (C): FAILED %s: %d %s\n", what,
          (int)quorvel_last_error_number(), quorvel_last_error_description());
  return 1;
}

int main(void) {
  quorvel_object* dict = NULL;
  if (quorvel_create_object("Scripting.Dictionary", &dict) != 0)
    return fail("create a dictionary");
  quorvel_variant args[2], answer;
  quorvel_variant_init(&args[1]);
  if (quorvel_variant_set_utf8(&args[0], "answer", 6) != 0)
    return fail("make a key");
  args[1].type = QUORVEL_LONG;
  args[1].as.long_value = 42;
  if (quorvel_call_by_name(dict, "Add", QUORVEL_METHOD, args, 2, NULL) != 0 ||
      quorvel_call_by_name(dict, "Item", QUORVEL_GET, args, 1, &answer) != 0 ||
      answer.type != QUORVEL_LONG || answer.as.long_value != 42)
    return fail("Add, then Item");
  if (quorvel_call_by_name(dict, "Nope", QUORVEL_GET, NULL, 0, NULL) != 438 ||
      strcmp(quorvel_last_error_description(),
             "Object doesn't support this property or method") != 0)
    return fail("an unknown member raises 438");
  quorvel_variant_clear(&args[0]);
  if (quorvel_release(dict) != 0) return fail("release");
  printf("consumer (C): all checks passed\n");
  return 0;
}
