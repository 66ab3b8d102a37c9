/* The C interface's header compiles as C (this file is the one source of the module the Python
 * test loads, which otherwise holds the whole library). */
#include "loomset/loomset.h"

const char* loomset_c_module_last_error(void) {
  return loomset_last_error();
}
