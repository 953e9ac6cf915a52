// SPDX-License-Identifier: Apache-2.0
// Looking for printers without a DNS-SD daemon: PAPPL 1.3.1 asserts, and so ends the
// whole server, when it browses with no connection to avahi. PAPPL lists devices through
// the dynamic linker, so this definition takes its place and leaves DNS-SD out then.
#include <dlfcn.h>
#include <pappl/pappl.h>

extern "C" {
void *_papplDNSSDInit(pappl_system_t *system);
}

extern "C" bool papplDeviceList(pappl_devtype_t types, pappl_device_cb_t cb, void *data,
                                pappl_deverror_cb_t err_cb, void *err_data) {
  using list_t = bool (*)(pappl_devtype_t, pappl_device_cb_t, void *, pappl_deverror_cb_t, void *);
  static auto list = reinterpret_cast<list_t>(dlsym(RTLD_NEXT, "papplDeviceList"));
  if (!list)
    return false;
  // PAPPL keeps its first connection; none means no daemon answered.
  if ((types & PAPPL_DEVTYPE_DNS_SD) && !_papplDNSSDInit(nullptr))
    types = static_cast<pappl_devtype_t>(types & ~PAPPL_DEVTYPE_DNS_SD);
  return list(types, cb, data, err_cb, err_data);
}
