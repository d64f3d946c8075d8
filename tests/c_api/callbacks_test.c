/* C functions as CArray's callbacks: Map, Filter and SortByKey call them,
 * their errors reach the caller, nesting is bounded, and a callback lives
 * while anything holds it. */
#include <stdint.h>

#include "c_test.h"

static quorvel_object* list_of(const int32_t* values, int n) {
  quorvel_object* list = c_create("CArray");
  for (int i = 0; i < n; ++i) {
    quorvel_variant v = c_long(values[i]);
    c_call(list, "Add", QUORVEL_METHOD, &v, 1);
  }
  return list;
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

static int32_t is_even(void* context, const quorvel_variant* value,
                       int32_t* keep) {
  ++*(int*)context;
  *keep = value->as.long_value % 2 == 0;
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

static void test_map_filter_and_sort_by_key(void) {
  const int32_t values[] = {13, 4, 22, 7};
  quorvel_object* list = list_of(values, 4);
  int32_t factor = 3;
  quorvel_object *times = NULL, *even = NULL, *digit = NULL;
  CHECK_OK(quorvel_create_sort_callback(scale, &factor, NULL, 0, &times));
  quorvel_variant arg = c_object(times);
  quorvel_variant mapped = c_call(list, "Map", QUORVEL_METHOD, &arg, 1);
  CHECK(c_item(mapped.as.object, 0) == 39 && c_item(mapped.as.object, 3) == 21);
  quorvel_variant_clear(&mapped);

  int calls = 0;
  CHECK_OK(quorvel_create_filter_callback(is_even, &calls, NULL, 0, &even));
  arg = c_object(even);
  quorvel_variant kept = c_call(list, "Filter", QUORVEL_METHOD, &arg, 1);
  quorvel_variant count = c_call(kept.as.object, "Count", QUORVEL_GET, NULL, 0);
  CHECK(calls == 4 && count.as.long_value == 2);
  CHECK(c_item(kept.as.object, 0) == 4 && c_item(kept.as.object, 1) == 22);
  quorvel_variant_clear(&kept);

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
  CHECK_KX(quorvel_callback_context(list, &context, &function), 13,
           "Type mismatch");
  CHECK_KX(quorvel_callback_context(NULL, &context, &function), 91, NOT_SET);
  arg = c_object(even); /* a filter is no sort callback */
  quorvel_variant r;
  CHECK_KX(quorvel_call_by_name(list, "Map", QUORVEL_METHOD, &arg, 1, &r), 13,
           "Type mismatch");
  CHECK_OK(quorvel_release(times));
  CHECK_OK(quorvel_release(even));
  CHECK_OK(quorvel_release(digit));
  CHECK_OK(quorvel_release(list));
}

static void test_callback_errors_reach_the_caller(void) {
  const int32_t values[] = {1, 2};
  quorvel_object* list = list_of(values, 2);
  quorvel_object *no = NULL, *odd = NULL;
  CHECK_OK(quorvel_create_filter_callback(refuse, NULL, NULL, 0, &no));
  quorvel_variant arg = c_object(no), r;
  CHECK_ERROR(quorvel_call_by_name(list, "Filter", QUORVEL_METHOD, &arg, 1, &r),
              1001, "MyFilter", "no thanks");
  /* A number the callback did not record gets its standard text. */
  CHECK_OK(
      quorvel_create_sort_callback(refuse_unrecorded, NULL, NULL, 0, &odd));
  arg = c_object(odd);
  CHECK_KX(quorvel_call_by_name(list, "Map", QUORVEL_METHOD, &arg, 1, &r), 13,
           "Type mismatch");
  CHECK_OK(quorvel_release(odd));
  CHECK_OK(quorvel_release(no));
  CHECK_OK(quorvel_release(list));
  quorvel_object* out = (quorvel_object*)1;
  CHECK_BAD(quorvel_create_sort_callback(NULL, NULL, NULL, 0, &out),
            "the callback function is NULL");
  CHECK(out == NULL);
  CHECK_BAD(quorvel_create_filter_callback(is_even, NULL, NULL, 0, NULL),
            "out is NULL");
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
  const int32_t values[] = {1};
  struct recursion r = {list_of(values, 1), NULL, 0, 0};
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

/* A callback object tells when it is destroyed, through its release: only
 * once its last holder lets it go. */
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

C_TEST_MAIN(test_map_filter_and_sort_by_key,
            test_callback_errors_reach_the_caller, test_nesting_is_bounded,
            test_objects_live_while_anyone_holds_them)
