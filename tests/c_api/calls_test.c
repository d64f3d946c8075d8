/* Creating objects and calling them by name: results, every error path,
 * handles and their lifetime, and the thread's last error. */
#include <pthread.h>
#include <stdatomic.h>
#include <stdint.h>

#include "c_test.h"

static void test_create_object_by_any_spelling(void) {
  const char* names[] = {"CArray", "carray", "KxQuorvel.CArray",
                         "Scripting.Dictionary", "cStringBuilder"};
  for (size_t i = 0; i < sizeof names / sizeof *names; ++i) {
    quorvel_object* object = NULL;
    CHECK_OK(quorvel_create_object(names[i], &object));
    CHECK(object != NULL);
    CHECK_OK(quorvel_release(object));
  }
  quorvel_object* object = (quorvel_object*)1;
  CHECK_ERROR(quorvel_create_object("NoSuchClass", &object), 429, "KxQuorvel",
              "ActiveX component can't create object");
  CHECK(object == NULL);
  CHECK_ERROR(quorvel_create_object("", &object), 429, "KxQuorvel",
              "ActiveX component can't create object");
  CHECK_ERROR(quorvel_create_object(NULL, &object), 5, "KxQuorvel",
              "Invalid procedure call or argument: class_name is NULL");
  CHECK_ERROR(quorvel_create_object("CArray", NULL), 5, "KxQuorvel",
              "Invalid procedure call or argument: out is NULL");
}

static void test_members_read_and_write(void) {
  quorvel_object* dict = c_create("Scripting.Dictionary");
  quorvel_variant args[2] = {c_text("a"), c_long(1)};
  quorvel_variant r = c_call(dict, "Add", QUORVEL_METHOD, args, 2);
  CHECK(r.type == QUORVEL_EMPTY);
  /* Let through the default member, then read it by name in another case. */
  args[0] = c_text("b");
  args[1] = c_text("two");
  c_call(dict, "", QUORVEL_LET, args, 2);
  r = c_call(dict, "item", QUORVEL_GET, args, 1);
  CHECK(c_is_text(&r, "two"));
  quorvel_variant_clear(&r);
  r = c_call(dict, "COUNT", QUORVEL_GET, NULL, 0);
  CHECK(r.type == QUORVEL_LONG && r.as.long_value == 2);
  /* Method and Get both read; the result may be dropped. */
  r = c_call(dict, "Count", QUORVEL_METHOD, NULL, 0);
  CHECK(r.as.long_value == 2);
  CHECK_OK(quorvel_call_by_name(dict, "Exists", QUORVEL_METHOD, args, 1, NULL));
  r = c_call(dict, "Keys", QUORVEL_METHOD, NULL, 0);
  CHECK(r.type == QUORVEL_ARRAY + QUORVEL_VARIANT);
  quorvel_variant key;
  CHECK_OK(quorvel_array_get(r.as.array, 1, 0, &key));
  CHECK(c_is_text(&key, "b"));
  quorvel_variant_clear(&key);
  quorvel_variant_clear(&r);
  CHECK_OK(quorvel_release(dict));
}

static void test_call_errors(void) {
  quorvel_object* list = c_create("CArray");
  quorvel_variant args[2] = {c_long(5), c_text("x")};
  quorvel_variant missing;
  quorvel_variant_init(&missing);
  missing.type = QUORVEL_ERROR;
  missing.as.error_code = QUORVEL_MISSING;
  quorvel_variant r = c_long(42);

  CHECK_ERROR(quorvel_call_by_name(list, "Nope", QUORVEL_METHOD, NULL, 0, &r),
              438, "KxQuorvel",
              "Object doesn't support this property or method");
  CHECK(r.type == QUORVEL_EMPTY); /* a failed call leaves its result Empty */
  CHECK_ERROR(quorvel_call_by_name(list, "Count", QUORVEL_LET, args, 1, &r),
              438, "KxQuorvel",
              "Object doesn't support this property or method");
  CHECK_ERROR(quorvel_call_by_name(list, "Add", QUORVEL_METHOD, NULL, 0, &r),
              450, "KxQuorvel",
              "Wrong number of arguments or invalid property assignment");
  CHECK_ERROR(quorvel_call_by_name(list, "Add", QUORVEL_METHOD, args, 2, &r),
              450, "KxQuorvel",
              "Wrong number of arguments or invalid property assignment");
  CHECK_ERROR(quorvel_call_by_name(list, "Item", QUORVEL_GET, &args[1], 1, &r),
              13, "KxQuorvel", "Type mismatch");
  CHECK_ERROR(quorvel_call_by_name(list, "Item", QUORVEL_GET, args, 1, &r), 9,
              "CArray", "Index (5) is out of bounds (0 - -1)");
  CHECK_ERROR(
      quorvel_call_by_name(list, "Add", QUORVEL_METHOD, &missing, 1, &r), 449,
      "KxQuorvel", "Argument not optional");
  CHECK_ERROR(quorvel_call_by_name(NULL, "Count", QUORVEL_GET, NULL, 0, &r), 91,
              "KxQuorvel", "Object variable or With block variable not set");
  CHECK_ERROR(quorvel_call_by_name(list, NULL, QUORVEL_GET, NULL, 0, &r), 5,
              "KxQuorvel", "Invalid procedure call or argument: name is NULL");
  CHECK_ERROR(quorvel_call_by_name(list, "Add", QUORVEL_METHOD, NULL, 1, &r), 5,
              "KxQuorvel", "Invalid procedure call or argument: args is NULL");
  const int32_t bad_call_types[] = {0, 3, 16, -1};
  for (int i = 0; i < 4; ++i) {
    CHECK_ERROR(
        quorvel_call_by_name(list, "Count", bad_call_types[i], NULL, 0, &r), 5,
        "KxQuorvel",
        "Invalid procedure call or argument: call_type is not Method, Get, Let "
        "or Set");
  }
  /* A Missing optional argument takes the declared default. */
  quorvel_variant four[4] = {c_long(1), c_long(2), c_long(3), c_long(4)};
  c_call(list, "AddMultiple", QUORVEL_METHOD, four, 4);
  quorvel_variant slice_args[3] = {missing, missing, c_long(2)};
  r = c_call(list, "Slice", QUORVEL_METHOD, slice_args, 3);
  quorvel_variant count = c_call(r.as.object, "Count", QUORVEL_GET, NULL, 0);
  CHECK(count.as.long_value == 2);
  quorvel_variant_clear(&r);
  CHECK_OK(quorvel_release(list));
}

static void test_handles_name_objects_once(void) {
  quorvel_object* dict = c_create("Scripting.Dictionary");
  quorvel_object* list = c_create("CArray");
  quorvel_variant args[2] = {c_text("list"), c_object(list)};
  c_call(dict, "Item", QUORVEL_SET, args, 2);
  quorvel_variant back = c_call(dict, "Item", QUORVEL_GET, args, 1);
  CHECK(back.type == QUORVEL_OBJECT && back.flags == QUORVEL_OWNED);
  CHECK(back.as.object == list); /* the same object, the same handle */
  quorvel_variant_clear(&back);  /* drops the count the result carried */
  /* Nothing comes back as a NULL handle. */
  args[1] = c_object(NULL);
  c_call(dict, "Item", QUORVEL_SET, args, 2);
  back = c_call(dict, "Item", QUORVEL_GET, args, 1);
  CHECK(back.type == QUORVEL_OBJECT && back.as.object == NULL);
  quorvel_variant_clear(&back);

  CHECK_OK(quorvel_add_ref(list));
  CHECK_OK(quorvel_release(list));
  CHECK_OK(quorvel_release(list));
  const char* released =
      "Invalid procedure call or argument: the object handle was released or "
      "never made";
  CHECK_ERROR(quorvel_release(list), 5, "KxQuorvel", released);
  CHECK_ERROR(quorvel_add_ref(list), 5, "KxQuorvel", released);
  quorvel_variant r;
  CHECK_ERROR(quorvel_call_by_name(list, "Count", QUORVEL_GET, NULL, 0, &r), 5,
              "KxQuorvel", released);
  /* A new object may take the slot; the old handle still names nothing. */
  quorvel_object* other = c_create("CArray");
  CHECK(other != list);
  CHECK_ERROR(quorvel_call_by_name(list, "Count", QUORVEL_GET, NULL, 0, &r), 5,
              "KxQuorvel", released);
  const uintptr_t forged[] = {1, 0x1234, UINT32_MAX, (uintptr_t)-1};
  for (int i = 0; i < 4; ++i) {
    CHECK_ERROR(quorvel_release((quorvel_object*)forged[i]), 5, "KxQuorvel",
                released);
  }
  CHECK_ERROR(quorvel_release(NULL), 5, "KxQuorvel",
              "Invalid procedure call or argument: object is NULL");
  CHECK_ERROR(quorvel_add_ref(NULL), 5, "KxQuorvel",
              "Invalid procedure call or argument: object is NULL");
  CHECK_OK(quorvel_release(other));
  CHECK_OK(quorvel_release(dict));
}

static int released_contexts = 0;
static void count_release(void* context) {
  (void)context;
  ++released_contexts;
}
static int32_t identity(void* context, const quorvel_variant* value,
                        quorvel_variant* result) {
  (void)context;
  return quorvel_variant_copy(result, value);
}

static void test_objects_live_while_anyone_holds_them(void) {
  /* A callback object tells when it is destroyed, through its release. */
  released_contexts = 0;
  quorvel_object* callback = NULL;
  CHECK_OK(quorvel_create_sort_callback(identity, NULL, count_release, 0,
                                        &callback));
  quorvel_object* list = c_create("CArray");
  quorvel_variant arg = c_object(callback);
  c_call(list, "Add", QUORVEL_METHOD, &arg, 1);
  CHECK_OK(quorvel_release(callback));
  CHECK(released_contexts == 0); /* the list still holds it */
  c_call(list, "Clear", QUORVEL_METHOD, NULL, 0);
  CHECK(released_contexts == 1);

  CHECK_OK(quorvel_create_sort_callback(identity, NULL, count_release, 0,
                                        &callback));
  arg = c_object(callback);
  c_call(list, "Add", QUORVEL_METHOD, &arg, 1);
  CHECK_OK(quorvel_release(callback));
  CHECK_OK(quorvel_release(list)); /* the last holder of both */
  CHECK(released_contexts == 2);
}

static void* fail_in_other_thread(void* unused) {
  (void)unused;
  quorvel_object* object = NULL;
  int32_t status = quorvel_create_object("Nope", &object);
  return (void*)(intptr_t)(status == 429 && quorvel_last_error_number() == 429);
}

static void test_last_error_belongs_to_its_thread(void) {
  quorvel_set_error(9, "Mine", "main thread");
  pthread_t thread;
  void* other_saw_its_own = NULL;
  CHECK(pthread_create(&thread, NULL, fail_in_other_thread, NULL) == 0);
  CHECK(pthread_join(thread, &other_saw_its_own) == 0);
  CHECK(other_saw_its_own != NULL);
  CHECK(quorvel_last_error_number() == 9);
  CHECK(strcmp(quorvel_last_error_source(), "Mine") == 0);
  CHECK(strcmp(quorvel_last_error_description(), "main thread") == 0);
  /* A success leaves the last error alone. */
  quorvel_object* list = c_create("CArray");
  CHECK(quorvel_last_error_number() == 9);
  CHECK_OK(quorvel_release(list));
}

/* Makes and drops handles from several threads at once, enough of them
 * that the handle table grows meanwhile. */
enum { kThreads = 4, kHandlesEach = 10000 };

static void* churn_handles(void* unused) {
  static quorvel_object* held[kThreads][kHandlesEach];
  static atomic_int next_row = 0;
  (void)unused;
  int row = atomic_fetch_add(&next_row, 1) % kThreads;
  intptr_t failures = 0;
  for (int i = 0; i < kHandlesEach; ++i) {
    failures += quorvel_create_object("CArray", &held[row][i]) != 0;
    failures += quorvel_add_ref(held[row][i]) != 0;
  }
  for (int i = 0; i < kHandlesEach; ++i) {
    failures += quorvel_release(held[row][i]) != 0;
    failures += quorvel_release(held[row][i]) != 0;
    failures += quorvel_release(held[row][i]) != 5; /* now stale */
  }
  return (void*)failures;
}

static void test_handles_from_many_threads(void) {
  pthread_t threads[kThreads];
  for (int t = 0; t < kThreads; ++t)
    CHECK(pthread_create(&threads[t], NULL, churn_handles, NULL) == 0);
  for (int t = 0; t < kThreads; ++t) {
    void* failures = (void*)1;
    CHECK(pthread_join(threads[t], &failures) == 0);
    CHECK(failures == NULL);
  }
}

static void test_set_error_and_utf16_texts(void) {
  CHECK(quorvel_set_error(1234, NULL, NULL) == 1234);
  CHECK(strcmp(quorvel_last_error_source(), "KxQuorvel") == 0);
  CHECK(strcmp(quorvel_last_error_description(), "") == 0);
  CHECK(quorvel_set_error(7, "src", "bad \xFF byte") == 7);
  CHECK(strcmp(quorvel_last_error_description(), "bad \xEF\xBF\xBD byte") == 0);

  const uint16_t source[] = {'P', 'y'};
  const uint16_t description[] = {'x', 0xD800};
  CHECK(quorvel_set_error_utf16(440, source, 2, description, 2) == 440);
  size_t size = 0;
  const uint16_t* text = quorvel_last_error_description_utf16(&size);
  CHECK(size == 2 && text[0] == 'x' && text[1] == 0xD800 && text[2] == 0);
  text = quorvel_last_error_source_utf16(NULL);
  CHECK(text[0] == 'P' && text[1] == 'y' && text[2] == 0);
  CHECK(strcmp(quorvel_last_error_source(), "Py") == 0);
  CHECK(strcmp(quorvel_last_error_description(), "x\xEF\xBF\xBD") == 0);
}

static quorvel_variant utf16_key(const uint16_t* units, size_t n) {
  quorvel_variant v;
  quorvel_variant_init(&v);
  v.type = QUORVEL_STRING;
  v.flags = QUORVEL_UTF16;
  v.as.utf16.data = units;
  v.as.utf16.size = n;
  return v;
}

/* A member found once is called on every object of its class; it refuses an
 * object of another class, and what the member raises arrives as by name.
 * Short UTF-16 keys pass through a block reused between calls: one the
 * member kept must not change under it. */
static void test_members_found_once(void) {
  quorvel_object* dict = c_create("Scripting.Dictionary");
  quorvel_object* other = c_create("Scripting.Dictionary");
  quorvel_object* list = c_create("CArray");
  const quorvel_member *add = NULL, *item = NULL, *deflt = NULL;
  CHECK_OK(quorvel_find_member(dict, "ADD", QUORVEL_METHOD, &add));
  CHECK_OK(quorvel_find_member(dict, "Item", QUORVEL_GET, &item));
  CHECK_OK(quorvel_find_member(dict, "", QUORVEL_GET, &deflt));
  CHECK(add != NULL && item != NULL && deflt == item);
  const quorvel_member* none = (const quorvel_member*)1;
  CHECK_ERROR(quorvel_find_member(dict, "Nope", QUORVEL_GET, &none), 438,
              "KxQuorvel", "Object doesn't support this property or method");
  CHECK(none == NULL);
  CHECK_ERROR(quorvel_find_member(dict, "Count", QUORVEL_LET, &none), 438,
              "KxQuorvel", "Object doesn't support this property or method");
  CHECK_ERROR(quorvel_find_member(NULL, "Count", QUORVEL_GET, &none), 91,
              "KxQuorvel", "Object variable or With block variable not set");

  const uint16_t keys[][2] = {{'k', '1'}, {'k', '2'}, {'k', '1'}};
  for (int i = 0; i < 2; ++i) {
    quorvel_variant args[2] = {utf16_key(keys[i], 2), c_long(i)};
    CHECK_OK(quorvel_call_member(dict, add, 0, args, 2, NULL));
    CHECK_OK(quorvel_call_member(other, add, QUORVEL_UTF16, args, 2, NULL));
  }
  quorvel_variant again[2] = {utf16_key(keys[2], 2), c_long(5)};
  CHECK(quorvel_call_member(dict, add, 0, again, 2, NULL) == 457);
  quorvel_variant r;
  quorvel_variant key = utf16_key(keys[2], 2);
  CHECK_OK(quorvel_call_member(dict, item, 0, &key, 1, &r));
  CHECK(r.type == QUORVEL_LONG && r.as.long_value == 0);
  r = c_call(dict, "Keys", QUORVEL_METHOD, NULL, 0);
  quorvel_variant first, second;
  CHECK_OK(quorvel_array_get(r.as.array, 0, 0, &first));
  CHECK_OK(quorvel_array_get(r.as.array, 1, 0, &second));
  CHECK(c_is_text(&first, "k1") && c_is_text(&second, "k2"));
  quorvel_variant_clear(&first);
  quorvel_variant_clear(&second);
  quorvel_variant_clear(&r);

  CHECK_ERROR(quorvel_call_member(list, item, 0, &key, 1, &r), 438, "KxQuorvel",
              "Object doesn't support this property or method");
  CHECK(r.type == QUORVEL_EMPTY);
  CHECK_ERROR(quorvel_call_member(dict, NULL, 0, &key, 1, &r), 5, "KxQuorvel",
              "Invalid procedure call or argument: member is NULL");
  const quorvel_member* at = NULL;
  CHECK_OK(quorvel_find_member(list, "Item", QUORVEL_GET, &at));
  quorvel_variant nine = c_long(9);
  CHECK_ERROR(quorvel_call_member(list, at, 0, &nine, 1, &r), 9, "CArray",
              "Index (9) is out of bounds (0 - -1)");
  CHECK_ERROR(quorvel_call_member(list, at, 0, NULL, 0, &r), 450, "KxQuorvel",
              "Wrong number of arguments or invalid property assignment");
  CHECK_OK(quorvel_release(dict));
  CHECK_OK(quorvel_release(other));
  CHECK_OK(quorvel_release(list));
}

C_TEST_MAIN(test_members_found_once, test_create_object_by_any_spelling,
            test_members_read_and_write, test_call_errors,
            test_handles_name_objects_once,
            test_objects_live_while_anyone_holds_them,
            test_last_error_belongs_to_its_thread,
            test_handles_from_many_threads, test_set_error_and_utf16_texts)
