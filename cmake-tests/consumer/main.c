/* The installed C interface from a C program: a push into the data layer, read back. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "loomset/loomset.h"

int main(void) {
  char root[] = "/tmp/loomset-consumer-XXXXXX";
  if (!mkdtemp(root) || loomset_set_data_root(root) != LOOMSET_OK) return 1;
  const char update[] = "{\"greeting\": \"hello\"}";
  char* value = NULL;
  size_t length = 0;
  if (loomset_data_layer_push_json(update, sizeof update - 1) != LOOMSET_OK ||
      loomset_data_layer_get_json("greeting", &value, &length) != LOOMSET_OK) {
    fprintf(stderr, "consumer_c: %s\n", loomset_last_error());
    return 1;
  }
  printf("consumer_c read: %s\n", value);
  const int ok = strcmp(value, "\"hello\"") == 0;
  loomset_free(value);
  return ok ? 0 : 1;
}
