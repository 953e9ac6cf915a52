/* SPDX-License-Identifier: Apache-2.0 */
/* A library loaded before libpappl with a name that only a later PAPPL has: the printer
   application must refuse to run beside it, as its scheduler would run beside PAPPL's. */
void _papplPrinterCheckJobsNoLock(void *printer) {
  (void)printer;
}
