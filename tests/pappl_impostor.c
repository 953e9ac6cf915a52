/* SPDX-License-Identifier: Apache-2.0 */
/* A libpappl.so.1 that is no PAPPL: a program that loaded it for PAPPL's functions would
   fail or crash. */
#include <stdlib.h>

void *papplSystemCreate(void) {
  abort();
}
