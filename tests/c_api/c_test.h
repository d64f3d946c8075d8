/* Checks for the C interface's tests, plain C programs that run their test
 * functions in order, print every failed check and then exit non-zero. */
#ifndef QUORVEL_TESTS_C_API_C_TEST_H_
#define QUORVEL_TESTS_C_API_C_TEST_H_

#include <quorvel/quorvel_c.h>
#include <stdio.h>
#include <string.h>

static int c_test_failures = 0;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
      ++c_test_failures;                                                       \
    }                                                                          \
  } while (0)

/* The call returns `number`; unless 0, the last error has this number,
 * source and description. */
#define CHECK_ERROR(call, number, source, description) \
  c_test_check_error((call), (number), (source), (description), #call, __LINE__)
#define CHECK_OK(call) CHECK_ERROR(call, 0, "", "")
/* The library's own errors, and its invalid-argument ones. */
#define CHECK_KX(call, number, description) \
  CHECK_ERROR(call, number, "KxQuorvel", description)
#define CHECK_BAD(call, what) \
  CHECK_KX(call, 5, "Invalid procedure call or argument: " what)
#define NO_MEMBER "Object doesn't support this property or method"
#define NOT_SET "Object variable or With block variable not set"

static void c_test_check_error(int32_t status, int32_t number,
                               const char* source, const char* description,
                               const char* call, int line) {
  if (status == number &&
      (number == 0 ||
       (quorvel_last_error_number() == number &&
        strcmp(quorvel_last_error_source(), source) == 0 &&
        strcmp(quorvel_last_error_description(), description) == 0)))
    return;
  fprintf(stderr,
          "line %d: %s\n  expected %d (%s): %s\n  got %d, last %d (%s): %s\n",
          line, call, (int)number, source, description, (int)status,
          (int)quorvel_last_error_number(), quorvel_last_error_source(),
          quorvel_last_error_description());
  ++c_test_failures;
}

static inline quorvel_variant c_long(int32_t v) {
  quorvel_variant r = {QUORVEL_LONG, 0, {.long_value = v}};
  return r;
}

static inline quorvel_variant c_text(const char* text) {
  quorvel_variant r = {QUORVEL_STRING, 0, {.utf8 = {text, strlen(text)}}};
  return r;
}

static inline quorvel_variant c_object(quorvel_object* object) {
  quorvel_variant r = {QUORVEL_OBJECT, 0, {.object = object}};
  return r;
}

/* Whether `v` is a UTF-8 String equal to `text`. */
static inline int c_is_text(const quorvel_variant* v, const char* text) {
  return v->type == QUORVEL_STRING && !(v->flags & QUORVEL_UTF16) &&
         v->as.utf8.size == strlen(text) &&
         memcmp(v->as.utf8.data, text, v->as.utf8.size) == 0;
}

/* Creates an object by name; the test fails if it cannot. */
static inline quorvel_object* c_create(const char* class_name) {
  quorvel_object* object = NULL;
  CHECK_OK(quorvel_create_object(class_name, &object));
  return object;
}

/* A member's result: Empty on a failure, which is reported. */
static inline quorvel_variant c_call(quorvel_object* object, const char* name,
                                     int32_t call_type,
                                     const quorvel_variant* args,
                                     size_t nargs) {
  quorvel_variant result;
  quorvel_variant_init(&result);
  CHECK_OK(quorvel_call_by_name(object, name, call_type, args, nargs, &result));
  return result;
}

/* Element `index` of a CArray, as a Long (-999 if it is none). */
static inline int32_t c_item(quorvel_object* list, int32_t index) {
  quorvel_variant i = c_long(index);
  quorvel_variant r = c_call(list, "Item", QUORVEL_GET, &i, 1);
  return r.type == QUORVEL_LONG ? r.as.long_value : -999;
}

#define C_TEST_MAIN(...)                                                  \
  int main(void) {                                                        \
    void (*tests[])(void) = {__VA_ARGS__};                                \
    for (size_t i = 0; i < sizeof tests / sizeof *tests; ++i) tests[i](); \
    if (c_test_failures != 0) {                                           \
      fprintf(stderr, "%d check(s) failed\n", c_test_failures);           \
      return 1;                                                           \
    }                                                                     \
    return 0;                                                             \
  }

#endif /* QUORVEL_TESTS_C_API_C_TEST_H_ */
