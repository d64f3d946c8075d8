/* Objects created and called by name or by a member found once, handles,
 * the thread's last error, enumeration, member lists and C callbacks. */
#include <pthread.h>
#include <stdatomic.h>
#include <stdint.h>

#include "c_test.h"

static void test_create_and_call_errors(void) {
  const char* names[] = {"carray", "KxQuorvel.CArray", "Scripting.Dictionary"};
  for (size_t i = 0; i < sizeof names / sizeof *names; ++i)
    CHECK_OK(quorvel_release(c_create(names[i])));
  quorvel_object* list = (quorvel_object*)1;
  CHECK_KX(quorvel_create_object("", &list), 429,
           "ActiveX component can't create object");
  CHECK(list == NULL);
  CHECK_BAD(quorvel_create_object(NULL, &list), "class_name is NULL");
  CHECK_BAD(quorvel_create_object("CArray", NULL), "out is NULL");

  list = c_create("CArray");
  quorvel_variant missing = {QUORVEL_ERROR, 0, {.error_code = QUORVEL_MISSING}};
  quorvel_variant r = c_long(42);
  CHECK_KX(quorvel_call_by_name(list, "Nope", QUORVEL_METHOD, NULL, 0, &r), 438,
           NO_MEMBER);
  CHECK(r.type == QUORVEL_EMPTY); /* a failed call leaves its result Empty */
  CHECK_KX(quorvel_call_by_name(list, "Add", QUORVEL_METHOD, &missing, 1, &r),
           449, "Argument not optional");
  CHECK_KX(quorvel_call_by_name(NULL, "Count", QUORVEL_GET, NULL, 0, &r), 91,
           NOT_SET);
  CHECK_BAD(quorvel_call_by_name(list, NULL, QUORVEL_GET, NULL, 0, &r),
            "name is NULL");
  CHECK_BAD(quorvel_call_by_name(list, "Add", QUORVEL_METHOD, NULL, 1, &r),
            "args is NULL");
  const int32_t bad_call_types[] = {0, 3, 16};
  for (int i = 0; i < 3; ++i)
    CHECK_BAD(
        quorvel_call_by_name(list, "Count", bad_call_types[i], NULL, 0, &r),
        "call_type is not Method, Get, Let or Set");
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
  CHECK_BAD(quorvel_call_by_name(list, "Count", QUORVEL_GET, NULL, 0, &back),
            RELEASED);
  const uintptr_t forged[] = {1, UINT32_MAX, (uintptr_t)-1};
  for (int i = 0; i < 3; ++i)
    CHECK_BAD(quorvel_release((quorvel_object*)forged[i]), RELEASED);
  CHECK_BAD(quorvel_release(NULL), "object is NULL");
  CHECK_BAD(quorvel_add_ref(NULL), "object is NULL");
  CHECK_OK(quorvel_release(other));
  CHECK_OK(quorvel_release(dict));
}

/* Enough handles made and dropped by each thread at once that the handle
 * table grows meanwhile; each thread's last error is its own. */
enum { kThreads = 4, kHandlesEach = 10000 };

static void* churn_handles(void* unused) {
  static quorvel_object* held[kThreads][kHandlesEach];
  static atomic_int next_row = 0;
  quorvel_object** mine = held[atomic_fetch_add(&next_row, 1) % kThreads];
  intptr_t failures = 0;
  (void)unused;
  for (int i = 0; i < kHandlesEach; ++i) {
    failures += quorvel_create_object("CArray", &mine[i]) != 0;
    failures += quorvel_add_ref(mine[i]) != 0;
  }
  for (int i = 0; i < kHandlesEach; ++i) {
    failures += quorvel_release(mine[i]) != 0;
    failures += quorvel_release(mine[i]) != 0;
    failures += quorvel_release(mine[i]) != 5; /* now stale */
  }
  return (void*)(failures + (quorvel_last_error_number() != 5));
}

static void test_threads_and_the_last_error(void) {
  /* The last error belongs to its thread; a success leaves it alone. */
  quorvel_set_error(9, "Mine", "main thread");
  pthread_t threads[kThreads];
  void* result = NULL;
  for (int t = 0; t < kThreads; ++t)
    CHECK(pthread_create(&threads[t], NULL, churn_handles, NULL) == 0);
  for (int t = 0; t < kThreads; ++t)
    CHECK(pthread_join(threads[t], &result) == 0 && result == NULL);
  CHECK_OK(quorvel_release(c_create("CArray")));
  CHECK(quorvel_last_error_number() == 9);
  CHECK(strcmp(quorvel_last_error_source(), "Mine") == 0);
  CHECK(strcmp(quorvel_last_error_description(), "main thread") == 0);

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

/* A member found once is called on every object of its class and refuses
 * an object of another class. */
static void test_members_found_once(void) {
  quorvel_object* dict = c_create("Scripting.Dictionary");
  quorvel_object* list = c_create("CArray");
  const quorvel_member *add = NULL, *item = NULL, *deflt = NULL;
  CHECK_OK(quorvel_find_member(dict, "ADD", QUORVEL_METHOD, &add));
  CHECK_OK(quorvel_find_member(dict, "Item", QUORVEL_GET, &item));
  CHECK_OK(quorvel_find_member(dict, "", QUORVEL_GET, &deflt));
  CHECK(add != NULL && item != NULL && deflt == item);
  const quorvel_member* none = (const quorvel_member*)1;
  CHECK_KX(quorvel_find_member(dict, "Count", QUORVEL_LET, &none), 438,
           NO_MEMBER);
  CHECK(none == NULL);
  const uint16_t k[] = {'k'};
  quorvel_variant args[2] = {{QUORVEL_STRING, QUORVEL_UTF16, {.utf16 = {k, 1}}},
                             c_long(7)},
                  r;
  CHECK_OK(quorvel_call_member(dict, add, QUORVEL_UTF16, args, 2, NULL));
  CHECK_OK(quorvel_call_member(dict, item, 0, args, 1, &r));
  CHECK(r.type == QUORVEL_LONG && r.as.long_value == 7);
  CHECK_KX(quorvel_call_member(list, item, 0, args, 1, &r), 438, NO_MEMBER);
  CHECK(r.type == QUORVEL_EMPTY);
  CHECK_BAD(quorvel_call_member(dict, NULL, 0, args, 1, &r), "member is NULL");
  CHECK_OK(quorvel_release(dict));
  CHECK_OK(quorvel_release(list));
}

static void test_enumerates_in_order(void) {
  quorvel_object* list = c_create("CArray");
  quorvel_variant b = c_text("b"), item = c_long(99);
  c_call(list, "Add", QUORVEL_METHOD, &b, 1);
  quorvel_object* walker = NULL;
  CHECK_OK(quorvel_enumerate(list, &walker));
  int32_t fetched = 0;
  CHECK_OK(quorvel_enum_next(walker, QUORVEL_UTF16, &item, &fetched));
  CHECK(fetched == 1 && item.flags == (QUORVEL_UTF16 | QUORVEL_OWNED) &&
        item.as.utf16.size == 1 && item.as.utf16.data[0] == 'b');
  quorvel_variant_clear(&item);
  for (int i = 0; i < 2; ++i) { /* past the end, and again */
    item = c_long(99);
    CHECK_OK(quorvel_enum_next(walker, 0, &item, &fetched));
    CHECK(fetched == 0 && item.type == QUORVEL_EMPTY);
  }
  CHECK_BAD(quorvel_enum_next(walker, 0, NULL, &fetched), "item is NULL");
  CHECK_BAD(quorvel_enum_next(walker, 0, &item, NULL), "fetched is NULL");
  CHECK_OK(quorvel_release(walker));
  /* What cannot be enumerated; an object that is no enumerator lacks
   * MoveNext. */
  quorvel_object* builder = c_create("cStringBuilder");
  walker = (quorvel_object*)1;
  CHECK_KX(quorvel_enumerate(builder, &walker), 438, NO_MEMBER);
  CHECK(walker == NULL && quorvel_release(builder) == 0);
  fetched = 7;
  CHECK_KX(quorvel_enum_next(list, 0, &item, &fetched), 438, NO_MEMBER);
  CHECK(fetched == 0);
  CHECK_OK(quorvel_release(list));
}

static void test_member_lists(void) {
  quorvel_object* list = c_create("CArray");
  quorvel_object* other = c_create("carray");
  quorvel_object* builder = c_create("cStringBuilder");
  const quorvel_class_info *info = NULL, *again = NULL;
  CHECK_OK(quorvel_object_class(list, &info));
  CHECK(strcmp(info->name, "CArray") == 0 &&
        strcmp(info->default_member, "Item") == 0);
  int slice_found = 0;
  for (int32_t i = 0; i < info->member_count; ++i) {
    const quorvel_member_info* m = &info->members[i];
    if (strcmp(m->name, "Slice") == 0 && m->call_type == QUORVEL_METHOD)
      slice_found = m->param_count == 3 &&
                    m->params[0].flags == QUORVEL_PARAM_OPTIONAL &&
                    m->params[2].flags ==
                        (QUORVEL_PARAM_OPTIONAL | QUORVEL_PARAM_HAS_DEFAULT) &&
                    strcmp(m->params[2].name, "Step") == 0;
  }
  CHECK(slice_found);
  CHECK_OK(quorvel_object_class(other, &again));
  CHECK(again == info); /* one class, one description */
  CHECK_OK(quorvel_object_class(builder, &info));
  CHECK(strcmp(info->default_member, "") == 0);
  CHECK_OK(quorvel_release(builder));
  CHECK_OK(quorvel_release(other));
  CHECK_OK(quorvel_release(list));
}

/* Apply: the value times the factor in the context, as a Long. */
static int32_t scale(void* context, const quorvel_variant* value,
                     quorvel_variant* result) {
  result->type = QUORVEL_LONG;
  result->as.long_value = value->as.long_value * *(int32_t*)context;
  return 0;
}

/* Apply: the value's last decimal digit, as text (not owned: the library
 * copies it and frees nothing). */
static int32_t last_digit_text(void* context, const quorvel_variant* value,
                               quorvel_variant* result) {
  static const char* digits[] = {"0", "1", "2", "3", "4",
                                 "5", "6", "7", "8", "9"};
  (void)context;
  *result = c_text(digits[value->as.long_value % 10]);
  return 0;
}

static int32_t refuse(void* context, const quorvel_variant* value,
                      int32_t* keep) {
  (void)context, (void)value, (void)keep;
  return quorvel_set_error(1001, "MyFilter", "no thanks");
}

static int32_t refuse_unrecorded(void* context, const quorvel_variant* value,
                                 quorvel_variant* result) {
  (void)context, (void)value, (void)result;
  quorvel_set_error(5, "stale", "recorded for another number");
  return 13;
}

static void test_map_sort_by_key_and_errors(void) {
  quorvel_object* list = c_create("CArray");
  quorvel_variant values[4] = {c_long(13), c_long(4), c_long(22), c_long(7)};
  c_call(list, "AddMultiple", QUORVEL_METHOD, values, 4);
  int32_t factor = 3;
  quorvel_object *times = NULL, *digit = NULL, *no = NULL, *odd = NULL;
  CHECK_OK(quorvel_create_sort_callback(scale, &factor, NULL, 0, &times));
  quorvel_variant arg = c_object(times), r;
  quorvel_variant mapped = c_call(list, "Map", QUORVEL_METHOD, &arg, 1);
  CHECK(c_item(mapped.as.object, 0) == 39 && c_item(mapped.as.object, 3) == 21);
  quorvel_variant_clear(&mapped);
  /* By the text of the last digit: "2" < "3" < "4" < "7". */
  CHECK_OK(
      quorvel_create_sort_callback(last_digit_text, NULL, NULL, 0, &digit));
  arg = c_object(digit);
  c_call(list, "SortByKey", QUORVEL_METHOD, &arg, 1);
  CHECK(c_item(list, 0) == 22 && c_item(list, 1) == 13 &&
        c_item(list, 2) == 4 && c_item(list, 3) == 7);

  /* The callback objects are what they say: contexts come back. */
  void* context = NULL;
  void (*function)(void) = NULL;
  CHECK_OK(quorvel_callback_context(times, &context, &function));
  CHECK(context == &factor && function == (void (*)(void))scale);

  /* Errors: the callback's own, a number it did not record (which gets its
   * standard text), a filter where a sort callback belongs. */
  CHECK_OK(quorvel_create_filter_callback(refuse, NULL, NULL, 0, &no));
  arg = c_object(no);
  CHECK_ERROR(quorvel_call_by_name(list, "Filter", QUORVEL_METHOD, &arg, 1, &r),
              1001, "MyFilter", "no thanks");
  CHECK_KX(quorvel_call_by_name(list, "Map", QUORVEL_METHOD, &arg, 1, &r), 13,
           "Type mismatch");
  CHECK_OK(
      quorvel_create_sort_callback(refuse_unrecorded, NULL, NULL, 0, &odd));
  arg = c_object(odd);
  CHECK_KX(quorvel_call_by_name(list, "Map", QUORVEL_METHOD, &arg, 1, &r), 13,
           "Type mismatch");
  quorvel_object* out = (quorvel_object*)1;
  CHECK_BAD(quorvel_create_sort_callback(NULL, NULL, NULL, 0, &out),
            "the callback function is NULL");
  CHECK(out == NULL);
  quorvel_object* made[] = {times, digit, no, odd, list};
  for (int i = 0; i < 5; ++i) CHECK_OK(quorvel_release(made[i]));
}

/* Apply that maps its list again from inside, passing itself on. */
struct recursion {
  quorvel_object* list;
  quorvel_object* self;
  int depth;
  int deepest;
};

static int32_t recurse(void* context, const quorvel_variant* value,
                       quorvel_variant* result) {
  struct recursion* r = (struct recursion*)context;
  (void)value, (void)result;
  if (++r->depth > r->deepest) r->deepest = r->depth;
  quorvel_variant arg = c_object(r->self);
  int32_t status =
      quorvel_call_by_name(r->list, "Map", QUORVEL_METHOD, &arg, 1, NULL);
  --r->depth;
  return status; /* the inner failure, already recorded, goes up */
}

static void test_nesting_is_bounded(void) {
  quorvel_variant one = c_long(1);
  struct recursion r = {c_create("CArray"), NULL, 0, 0};
  c_call(r.list, "Add", QUORVEL_METHOD, &one, 1);
  CHECK_OK(quorvel_create_sort_callback(recurse, &r, NULL, 0, &r.self));
  quorvel_variant arg = c_object(r.self), result;
  CHECK_KX(
      quorvel_call_by_name(r.list, "Map", QUORVEL_METHOD, &arg, 1, &result), 28,
      "Out of stack space");
  CHECK(r.deepest == 100 && r.depth == 0);
  CHECK_OK(quorvel_release(r.self));
  CHECK_OK(quorvel_release(r.list));
}

static int released_contexts = 0;
static void count_release(void* context) {
  (void)context;
  ++released_contexts;
}

/* A callback's release runs once its last holder lets it go. */
static void test_objects_live_while_anyone_holds_them(void) {
  quorvel_object* list = c_create("CArray");
  for (int round = 1; round <= 2; ++round) {
    quorvel_object* callback = NULL;
    CHECK_OK(
        quorvel_create_sort_callback(scale, NULL, count_release, 0, &callback));
    quorvel_variant arg = c_object(callback);
    c_call(list, "Add", QUORVEL_METHOD, &arg, 1);
    CHECK_OK(quorvel_release(callback));
    CHECK(released_contexts == round - 1); /* the list still holds it */
    if (round == 1) c_call(list, "Clear", QUORVEL_METHOD, NULL, 0);
    if (round == 2) CHECK_OK(quorvel_release(list)); /* the last holder */
    CHECK(released_contexts == round);
  }
}

C_TEST_MAIN(test_members_found_once, test_create_and_call_errors,
            test_handles_name_objects_once, test_threads_and_the_last_error,
            test_enumerates_in_order, test_member_lists,
            test_map_sort_by_key_and_errors, test_nesting_is_bounded,
            test_objects_live_while_anyone_holds_them)
