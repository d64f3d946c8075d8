/* Enumerating objects through _NewEnum, and the member lists of classes. */
#include "c_test.h"

static void test_enumerates_a_snapshot_in_order(void) {
  quorvel_object* list = c_create("CArray");
  quorvel_variant items[3] = {c_long(10), c_text("b"), c_long(30)};
  c_call(list, "AddMultiple", QUORVEL_METHOD, items, 3);
  quorvel_object* walker = NULL;
  CHECK_OK(quorvel_enumerate(list, &walker));
  /* Added after the enumerator was made: not seen. */
  quorvel_variant late = c_long(40);
  c_call(list, "Add", QUORVEL_METHOD, &late, 1);

  quorvel_variant item;
  int32_t fetched = 0;
  CHECK_OK(quorvel_enum_next(walker, 0, &item, &fetched));
  CHECK(fetched == 1 && item.type == QUORVEL_LONG && item.as.long_value == 10);
  CHECK_OK(quorvel_enum_next(walker, QUORVEL_UTF16, &item, &fetched));
  CHECK(fetched == 1 && item.type == QUORVEL_STRING &&
        item.flags == (QUORVEL_UTF16 | QUORVEL_OWNED) &&
        item.as.utf16.size == 1 && item.as.utf16.data[0] == 'b');
  quorvel_variant_clear(&item);
  CHECK_OK(quorvel_enum_next(walker, 0, &item, &fetched));
  CHECK(fetched == 1 && item.as.long_value == 30);
  for (int i = 0; i < 2; ++i) {
    item = c_long(99);
    CHECK_OK(quorvel_enum_next(walker, 0, &item, &fetched));
    CHECK(fetched == 0 && item.type == QUORVEL_EMPTY);
  }
  CHECK_ERROR(quorvel_enum_next(walker, 0, NULL, &fetched), 5, "KxQuorvel",
              "Invalid procedure call or argument: item is NULL");
  CHECK_ERROR(quorvel_enum_next(walker, 0, &item, NULL), 5, "KxQuorvel",
              "Invalid procedure call or argument: fetched is NULL");
  CHECK_OK(quorvel_release(walker));
  CHECK_OK(quorvel_release(list));
}

static void test_what_cannot_be_enumerated(void) {
  quorvel_object* builder = c_create("cStringBuilder");
  quorvel_object* walker = (quorvel_object*)1;
  CHECK_ERROR(quorvel_enumerate(builder, &walker), 438, "KxQuorvel",
              "Object doesn't support this property or method");
  CHECK(walker == NULL);
  CHECK_ERROR(quorvel_enumerate(NULL, &walker), 91, "KxQuorvel",
              "Object variable or With block variable not set");
  CHECK_ERROR(quorvel_enumerate(builder, NULL), 5, "KxQuorvel",
              "Invalid procedure call or argument: out is NULL");
  /* An object that is no enumerator answers by name, and lacks MoveNext. */
  quorvel_variant item;
  int32_t fetched = 7;
  CHECK_ERROR(quorvel_enum_next(builder, 0, &item, &fetched), 438, "KxQuorvel",
              "Object doesn't support this property or method");
  CHECK(fetched == 0);
  CHECK_OK(quorvel_release(builder));
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
  const quorvel_class_info* info = NULL;
  CHECK_OK(quorvel_object_class(list, &info));
  CHECK(strcmp(info->name, "CArray") == 0);
  CHECK(strcmp(info->default_member, "Item") == 0);

  const quorvel_member_info* m = find_member(info, "Add", QUORVEL_METHOD);
  CHECK(m != NULL && m->param_count == 1 &&
        strcmp(m->params[0].name, "vValue") == 0 && m->params[0].flags == 0);
  m = find_member(info, "Count", QUORVEL_GET);
  CHECK(m != NULL && m->param_count == 0);
  m = find_member(info, "Item", QUORVEL_SET);
  CHECK(m != NULL && m->param_count == 2 &&
        strcmp(m->params[1].name, "NewValue") == 0);
  CHECK(find_member(info, "Item", QUORVEL_LET) != NULL);
  CHECK(find_member(info, "Item", QUORVEL_GET) != NULL);
  m = find_member(info, "AddMultiple", QUORVEL_METHOD);
  CHECK(m != NULL && m->params[0].flags == QUORVEL_PARAM_ARRAY);
  m = find_member(info, "Slice", QUORVEL_METHOD);
  CHECK(m != NULL && m->param_count == 3);
  CHECK(m->params[0].flags == QUORVEL_PARAM_OPTIONAL);
  CHECK(m->params[2].flags ==
        (QUORVEL_PARAM_OPTIONAL | QUORVEL_PARAM_HAS_DEFAULT));
  CHECK(strcmp(m->params[2].name, "Step") == 0);

  /* The same class gives the same data; another object of it too. */
  quorvel_object* other = c_create("carray");
  const quorvel_class_info* again = NULL;
  CHECK_OK(quorvel_object_class(other, &again));
  CHECK(again == info);

  quorvel_object* builder = c_create("cStringBuilder");
  CHECK_OK(quorvel_object_class(builder, &info));
  CHECK(strcmp(info->name, "cStringBuilder") == 0);
  CHECK(strcmp(info->default_member, "") == 0);

  CHECK_ERROR(quorvel_object_class(NULL, &info), 91, "KxQuorvel",
              "Object variable or With block variable not set");
  CHECK_ERROR(quorvel_object_class(list, NULL), 5, "KxQuorvel",
              "Invalid procedure call or argument: out is NULL");
  CHECK_OK(quorvel_release(builder));
  CHECK_OK(quorvel_release(other));
  CHECK_OK(quorvel_release(list));
}

C_TEST_MAIN(test_enumerates_a_snapshot_in_order, test_what_cannot_be_enumerated,
            test_member_lists)
