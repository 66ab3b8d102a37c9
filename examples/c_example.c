/* Loomset from C: a container from the default shipped with the application, a data-layer push,
 * and a hit sent in dry-run mode. Every call is checked. */
#define _POSIX_C_SOURCE 200809L
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "loomset/loomset.h"

#define CHECK(call)                                                    \
  do {                                                                 \
    if ((call) != LOOMSET_OK) {                                        \
      fprintf(stderr, "%s failed: %s\n", #call, loomset_last_error()); \
      exit(1);                                                         \
    }                                                                  \
  } while (0)

static atomic_int dispatched = -1;

static void onDispatched(void* user_data, int outcome) {
  (void)user_data;
  atomic_store(&dispatched, outcome);
}

int main(void) {
  char root[] = "/tmp/loomset-c-example-XXXXXX";
  char path[512];
  if (!mkdtemp(root)) return 1;
  snprintf(path, sizeof path, "%s/GTM-C.json", root);
  FILE* shipped = fopen(path, "w");
  if (!shipped) return 1;
  fputs("{\"greeting\": \"Hello from C\", \"tiles\": 12}", shipped);
  fclose(shipped);

  CHECK(loomset_set_data_root(root));
  CHECK(loomset_set_resource_directory(root));
  /* Nothing listens there: the opening completes with the shipped default once the fetch fails. */
  CHECK(loomset_set_container_server("http://127.0.0.1:9"));

  loomset_container* container = NULL;
  CHECK(loomset_container_open("GTM-C", LOOMSET_OPEN_PREFER_NON_DEFAULT, 5.0, &container));
  char* greeting = NULL;
  size_t length = 0;
  int64_t tiles = 0;
  CHECK(loomset_container_get_string(container, "greeting", &greeting, &length));
  CHECK(loomset_container_get_int64(container, "tiles", &tiles));
  printf("%.*s, %lld tiles\n", (int)length, greeting, (long long)tiles);
  loomset_free(greeting);

  const char update[] = "{\"user\": {\"name\": \"ada\"}, \"event\": \"login\"}";
  CHECK(loomset_data_layer_push_json(update, sizeof update - 1));
  char* user = NULL;
  CHECK(loomset_data_layer_get_json("user", &user, &length));
  printf("data layer user = %s\n", user);
  loomset_free(user);

  loomset_tracker* tracker = NULL;
  CHECK(loomset_set_dry_run(1));
  CHECK(loomset_tracker_create("c-example", "UA-C-1", &tracker));
  const loomset_hit_field hit[] = {{"&t", "screenview", LOOMSET_NUL_TERMINATED},
                                   {"&cd", "Home", LOOMSET_NUL_TERMINATED}};
  CHECK(loomset_tracker_send(tracker, hit, 2));
  CHECK(loomset_dispatch(onDispatched, NULL));
  for (int i = 0; i < 500 && atomic_load(&dispatched) < 0; ++i) {
    nanosleep(&(struct timespec){0, 10 * 1000 * 1000}, NULL);
  }
  printf("dispatch outcome %d (1: sent)\n", atomic_load(&dispatched));

  loomset_tracker_release(tracker);
  CHECK(loomset_container_close(container));
  loomset_container_release(container);
  CHECK(loomset_application_will_terminate());
  return atomic_load(&dispatched) == 1 ? 0 : 1;
}
