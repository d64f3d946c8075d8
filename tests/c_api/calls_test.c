/* Creating objects and calling them by name or by a member found once:
 * results, every error path, handles and their lifetime, the thread's last
 * error, enumeration and the member lists of classes. */
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
    CHECK_OK(quorvel_release(object));
  }
  quorvel_object* object = (quorvel_object*)1;
  CHECK_KX(quorvel_create_object("NoSuchClass", &object), 429,
           "ActiveX component can't create object");
  CHECK(object == NULL);
  CHECK_KX(quorvel_create_object("", &object), 429,
           "ActiveX component can't create object");
  CHECK_BAD(quorvel_create_object(NULL, &object), "class_name is NULL");
  CHECK_BAD(quorvel_create_object("CArray", NULL), "out is NULL");
}

static void test_call_errors(void) {
  quorvel_object* list = c_create("CArray");
  quorvel_variant args[2] = {c_long(5), c_text("x")};
  quorvel_variant missing;
  quorvel_variant_init(&missing);
  missing.type = QUORVEL_ERROR;
  missing.as.error_code = QUORVEL_MISSING;
  quorvel_variant r = c_long(42);
  CHECK_KX(quorvel_call_by_name(list, "Nope", QUORVEL_METHOD, NULL, 0, &r), 438,
           NO_MEMBER);
  CHECK(r.type == QUORVEL_EMPTY); /* a failed call leaves its result Empty */
  CHECK_KX(quorvel_call_by_name(list, "Count", QUORVEL_LET, args, 1, &r), 438,
           NO_MEMBER);
  CHECK_KX(quorvel_call_by_name(list, "Add", QUORVEL_METHOD, NULL, 0, &r), 450,
           WRONG_COUNT);
  CHECK_ERROR(quorvel_call_by_name(list, "Item", QUORVEL_GET, args, 1, &r), 9,
              "CArray", "Index (5) is out of bounds (0 - -1)");
  CHECK_KX(quorvel_call_by_name(list, "Add", QUORVEL_METHOD, &missing, 1, &r),
           449, "Argument not optional");
  CHECK_KX(quorvel_call_by_name(NULL, "Count", QUORVEL_GET, NULL, 0, &r), 91,
           NOT_SET);
  CHECK_BAD(quorvel_call_by_name(list, NULL, QUORVEL_GET, NULL, 0, &r),
            "name is NULL");
  CHECK_BAD(quorvel_call_by_name(list, "Add", QUORVEL_METHOD, NULL, 1, &r),
            "args is NULL");
  const int32_t bad_call_types[] = {0, 3, 16};
  for (int i = 0; i < 3; ++i) {
    CHECK_BAD(
        quorvel_call_by_name(list, "Count", bad_call_types[i], NULL, 0, &r),
        "call_type is not Method, Get, Let or Set");
  }
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
  args[1] = c_object(NULL);      /* nothing comes back as a NULL handle */
  c_call(dict, "Item", QUORVEL_SET, args, 2);
  back = c_call(dict, "Item", QUORVEL_GET, args, 1);
  CHECK(back.type == QUORVEL_OBJECT && back.as.object == NULL);

  CHECK_OK(quorvel_add_ref(list));
  CHECK_OK(quorvel_release(list));
  CHECK_OK(quorvel_release(list));
#define RELEASED "the object handle was released or never made"
  CHECK_BAD(quorvel_release(list), RELEASED);
  CHECK_BAD(quorvel_add_ref(list), RELEASED);
  /* A new object may take the slot; the old handle still names nothing. */
  quorvel_object* other = c_create("CArray");
  quorvel_variant r;
  CHECK_BAD(quorvel_call_by_name(list, "Count", QUORVEL_GET, NULL, 0, &r),
            RELEASED);
  const uintptr_t forged[] = {1, 0x1234, UINT32_MAX, (uintptr_t)-1};
  for (int i = 0; i < 4; ++i)
    CHECK_BAD(quorvel_release((quorvel_object*)forged[i]), RELEASED);
  CHECK_BAD(quorvel_release(NULL), "object is NULL");
  CHECK_BAD(quorvel_add_ref(NULL), "object is NULL");
  CHECK_OK(quorvel_release(other));
  CHECK_OK(quorvel_release(dict));
}

static void* fail_in_other_thread(void* unused) {
  (void)unused;
  quorvel_object* object = NULL;
  int32_t status = quorvel_create_object("Nope", &object);
  return (void*)(intptr_t)(status == 429 && quorvel_last_error_number() == 429);
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

static void test_threads_and_the_last_error(void) {
  /* The last error belongs to its thread; a success leaves it alone. */
  quorvel_set_error(9, "Mine", "main thread");
  pthread_t thread;
  void* other_saw_its_own = NULL;
  CHECK(pthread_create(&thread, NULL, fail_in_other_thread, NULL) == 0);
  CHECK(pthread_join(thread, &other_saw_its_own) == 0);
  CHECK(other_saw_its_own != NULL);
  quorvel_object* list = c_create("CArray");
  CHECK_OK(quorvel_release(list));
  CHECK(quorvel_last_error_number() == 9);
  CHECK(strcmp(quorvel_last_error_source(), "Mine") == 0);
  CHECK(strcmp(quorvel_last_error_description(), "main thread") == 0);

  pthread_t threads[kThreads];
  for (int t = 0; t < kThreads; ++t)
    CHECK(pthread_create(&threads[t], NULL, churn_handles, NULL) == 0);
  for (int t = 0; t < kThreads; ++t) {
    void* failures = (void*)1;
    CHECK(pthread_join(threads[t], &failures) == 0);
    CHECK(failures == NULL);
  }

  /* Texts set from C: defaults, bad bytes replaced, UTF-16 kept whole. */
  CHECK(quorvel_set_error(1234, NULL, NULL) == 1234);
  CHECK(strcmp(quorvel_last_error_source(), "KxQuorvel") == 0);
  CHECK(strcmp(quorvel_last_error_description(), "") == 0);
  CHECK(quorvel_set_error(7, "src", "bad \xFF byte") == 7);
  CHECK(strcmp(quorvel_last_error_description(), "bad \xEF\xBF\xBD byte") == 0);
  const uint16_t source[] = {'P', 'y'}, description[] = {'x', 0xD800};
  CHECK(quorvel_set_error_utf16(440, source, 2, description, 2) == 440);
  size_t size = 0;
  const uint16_t* text = quorvel_last_error_description_utf16(&size);
  CHECK(size == 2 && text[0] == 'x' && text[1] == 0xD800 && text[2] == 0);
  text = quorvel_last_error_source_utf16(NULL);
  CHECK(text[0] == 'P' && text[1] == 'y' && text[2] == 0);
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

/* A member found once is called on every object of its class and refuses
 * an object of another class. Short UTF-16 keys pass through a block reused
 * between calls: one the member kept must not change under it. */
static void test_members_found_once(void) {
  quorvel_object* dict = c_create("Scripting.Dictionary");
  quorvel_object* list = c_create("CArray");
  const quorvel_member *add = NULL, *item = NULL, *deflt = NULL;
  CHECK_OK(quorvel_find_member(dict, "ADD", QUORVEL_METHOD, &add));
  CHECK_OK(quorvel_find_member(dict, "Item", QUORVEL_GET, &item));
  CHECK_OK(quorvel_find_member(dict, "", QUORVEL_GET, &deflt));
  CHECK(add != NULL && item != NULL && deflt == item);
  const quorvel_member* none = (const quorvel_member*)1;
  CHECK_KX(quorvel_find_member(dict, "Nope", QUORVEL_GET, &none), 438,
           NO_MEMBER);
  CHECK(none == NULL);
  CHECK_KX(quorvel_find_member(dict, "Count", QUORVEL_LET, &none), 438,
           NO_MEMBER);
  CHECK_KX(quorvel_find_member(NULL, "Count", QUORVEL_GET, &none), 91, NOT_SET);
  const uint16_t keys[][2] = {{'k', '1'}, {'k', '2'}};
  for (int i = 0; i < 2; ++i) {
    quorvel_variant args[2] = {utf16_key(keys[i], 2), c_long(i)};
    CHECK_OK(quorvel_call_member(dict, add, QUORVEL_UTF16, args, 2, NULL));
  }
  quorvel_variant r = c_call(dict, "Keys", QUORVEL_METHOD, NULL, 0), first;
  CHECK_OK(quorvel_array_get(r.as.array, 0, 0, &first));
  CHECK(c_is_text(&first, "k1"));
  quorvel_variant_clear(&first);
  quorvel_variant_clear(&r);
  quorvel_variant key = utf16_key(keys[1], 2);
  CHECK_OK(quorvel_call_member(dict, item, 0, &key, 1, &r));
  CHECK(r.type == QUORVEL_LONG && r.as.long_value == 1);
  CHECK_KX(quorvel_call_member(list, item, 0, &key, 1, &r), 438, NO_MEMBER);
  CHECK(r.type == QUORVEL_EMPTY);
  CHECK_BAD(quorvel_call_member(dict, NULL, 0, &key, 1, &r), "member is NULL");
  CHECK_OK(quorvel_release(dict));
  CHECK_OK(quorvel_release(list));
}

static void test_enumerates_in_order(void) {
  quorvel_object* list = c_create("CArray");
  quorvel_variant items[3] = {c_long(10), c_text("b"), c_long(30)};
  c_call(list, "AddMultiple", QUORVEL_METHOD, items, 3);
  quorvel_object* walker = NULL;
  CHECK_OK(quorvel_enumerate(list, &walker));
  quorvel_variant item;
  int32_t fetched = 0;
  CHECK_OK(quorvel_enum_next(walker, 0, &item, &fetched));
  CHECK(fetched == 1 && item.type == QUORVEL_LONG && item.as.long_value == 10);
  CHECK_OK(quorvel_enum_next(walker, QUORVEL_UTF16, &item, &fetched));
  CHECK(fetched == 1 && item.flags == (QUORVEL_UTF16 | QUORVEL_OWNED) &&
        item.as.utf16.size == 1 && item.as.utf16.data[0] == 'b');
  quorvel_variant_clear(&item);
  CHECK_OK(quorvel_enum_next(walker, 0, &item, &fetched));
  CHECK(fetched == 1 && item.as.long_value == 30);
  for (int i = 0; i < 2; ++i) {
    item = c_long(99);
    CHECK_OK(quorvel_enum_next(walker, 0, &item, &fetched));
    CHECK(fetched == 0 && item.type == QUORVEL_EMPTY);
  }
  CHECK_BAD(quorvel_enum_next(walker, 0, NULL, &fetched), "item is NULL");
  CHECK_BAD(quorvel_enum_next(walker, 0, &item, NULL), "fetched is NULL");
  CHECK_OK(quorvel_release(walker));

  /* What cannot be enumerated; an object that is no enumerator answers by
   * name, and lacks MoveNext. */
  quorvel_object* builder = c_create("cStringBuilder");
  walker = (quorvel_object*)1;
  CHECK_KX(quorvel_enumerate(builder, &walker), 438, NO_MEMBER);
  CHECK(walker == NULL);
  CHECK_KX(quorvel_enumerate(NULL, &walker), 91, NOT_SET);
  CHECK_BAD(quorvel_enumerate(builder, NULL), "out is NULL");
  fetched = 7;
  CHECK_KX(quorvel_enum_next(builder, 0, &item, &fetched), 438, NO_MEMBER);
  CHECK(fetched == 0);
  CHECK_OK(quorvel_release(builder));
  CHECK_OK(quorvel_release(list));
}

static const quorvel_member_info* find_member(const quorvel_class_info* info,
                                              const char* name,
                                              int32_t call_type) {
  for (int32_t i = 0; i < info->member_count; ++i) {
    if (strcmp(info->members[i].name, name) == 0 &&
        info->members[i].call_type == call_type)
      return &info->members[i];
  }
  return NULL;
}

static void test_member_lists(void) {
  quorvel_object* list = c_create("CArray");
  const quorvel_class_info *info = NULL, *again = NULL;
  CHECK_OK(quorvel_object_class(list, &info));
  CHECK(strcmp(info->name, "CArray") == 0);
  CHECK(strcmp(info->default_member, "Item") == 0);
  /* A member's parameters: names and flags (signatures in Python). */
  const quorvel_member_info* m = find_member(info, "Slice", QUORVEL_METHOD);
  CHECK(m != NULL && m->param_count == 3 &&
        m->params[0].flags == QUORVEL_PARAM_OPTIONAL &&
        m->params[2].flags ==
            (QUORVEL_PARAM_OPTIONAL | QUORVEL_PARAM_HAS_DEFAULT) &&
        strcmp(m->params[2].name, "Step") == 0);
  m = find_member(info, "Item", QUORVEL_SET);
  CHECK(m != NULL && m->param_count == 2 &&
        find_member(info, "Item", QUORVEL_LET));
  /* The same class gives the same data; another object of it too. */
  quorvel_object* other = c_create("carray");
  CHECK_OK(quorvel_object_class(other, &again));
  CHECK(again == info);
  quorvel_object* builder = c_create("cStringBuilder");
  CHECK_OK(quorvel_object_class(builder, &info));
  CHECK(strcmp(info->name, "cStringBuilder") == 0);
  CHECK(strcmp(info->default_member, "") == 0);
  CHECK_KX(quorvel_object_class(NULL, &info), 91, NOT_SET);
  CHECK_BAD(quorvel_object_class(list, NULL), "out is NULL");
  CHECK_OK(quorvel_release(builder));
  CHECK_OK(quorvel_release(other));
  CHECK_OK(quorvel_release(list));
}

C_TEST_MAIN(test_members_found_once, test_create_object_by_any_spelling,
            test_call_errors, test_handles_name_objects_once,
            test_threads_and_the_last_error, test_enumerates_in_order,
            test_member_lists)
