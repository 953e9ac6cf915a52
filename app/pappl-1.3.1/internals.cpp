// SPDX-License-Identifier: Apache-2.0
#include "app/pappl-1.3.1/internals.h"

#include <cctype>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <map>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "app/pappl-1.3.1/private.h"

namespace {

// The functions PAPPL calls through the dynamic linker that the application defines in
// its place (shims.cpp), each exported by the executable (CMakeLists.txt).
struct replacement_t {
  const char *name;
  void *ours;
};

const replacement_t kReplacements[] = {
    {"papplClientIsAuthorized", reinterpret_cast<void *>(&papplClientIsAuthorized)},
    {"papplClientGetCSRFToken", reinterpret_cast<void *>(&papplClientGetCSRFToken)},
    {"papplClientIsValidForm", reinterpret_cast<void *>(&papplClientIsValidForm)},
    {"papplJobGetName", reinterpret_cast<void *>(&papplJobGetName)},
    {"papplJobGetUsername", reinterpret_cast<void *>(&papplJobGetUsername)},
    {"papplPrinterCreate", reinterpret_cast<void *>(&papplPrinterCreate)},
    {"papplPrinterPause", reinterpret_cast<void *>(&papplPrinterPause)},
    {"papplPrinterResume", reinterpret_cast<void *>(&papplPrinterResume)},
    {"papplDeviceOpen", reinterpret_cast<void *>(&papplDeviceOpen)},
    {"papplSystemAddListeners", reinterpret_cast<void *>(&papplSystemAddListeners)},
    {"papplDeviceList", reinterpret_cast<void *>(&papplDeviceList)},
    {"_papplPrinterCheckJobs", reinterpret_cast<void *>(&_papplPrinterCheckJobs)},
    {"_papplJobCopyDocumentData", reinterpret_cast<void *>(&_papplJobCopyDocumentData)},
    {"papplJobOpenFile", reinterpret_cast<void *>(&papplJobOpenFile)},
    {"_papplClientCreate", reinterpret_cast<void *>(&_papplClientCreate)},
    {"_papplClientDelete", reinterpret_cast<void *>(&_papplClientDelete)},
    {"_papplClientProcessHTTP", reinterpret_cast<void *>(&_papplClientProcessHTTP)},
    {"_papplCopyAttributes", reinterpret_cast<void *>(&_papplCopyAttributes)},
    {"ippWriteFile", reinterpret_cast<void *>(&ippWriteFile)},
};

// PAPPL's private functions that the application calls.
const char *const kPrivateFunctions[] = {
    "_papplJobProcess",     "_papplJobSetState",        "_papplDNSSDInit",    "_papplSystemWebHome",
    "_papplPrinterWebHome", "_papplPrinterWebSupplies", "_papplJobFilterJPEG"};

// Names that a later PAPPL has in place of one replaced here: PAPPL 1.4 checks jobs
// through _papplPrinterCheckJobsNoLock, so our scheduler would run beside its own.
const char *const kLaterNames[] = {"_papplPrinterCheckJobsNoLock"};

// What the check found, read by the shims and wrappers afterwards.
std::map<std::string, void *> g_originals;
pappl_job_process_t g_processJob;
pappl_job_set_state_t g_setJobState;
pappl_dnssd_init_t g_dnssdInit;
pappl_system_home_t g_systemHome;
pappl_printer_page_t g_printerHome;
pappl_printer_page_t g_printerSupplies;
pappl_mime_filter_cb_t g_filterJpeg;

// Set while a printer's status page is written for a visitor who may not see job names.
thread_local bool t_hideJobNames;

// The loaded libpappl: its path, load address and program headers.
struct library_t {
  std::string path;
  ElfW(Addr) base = 0;
  const ElfW(Phdr) *headers = nullptr;
  int count = 0;
};

int find_library(dl_phdr_info *info, size_t, void *data) {
  auto *library = static_cast<library_t *>(data);
  if (!info->dlpi_name || library->path != info->dlpi_name)
    return 0;
  library->base = info->dlpi_addr;
  library->headers = info->dlpi_phdr;
  library->count = info->dlpi_phnum;
  return 1;
}

// Locate the libpappl that defines a public function of PAPPL's.
bool locate_library(library_t *library) {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void *>(&papplSystemCreate), &info) || !info.dli_fname)
    return false;
  library->path = info.dli_fname;
  return dl_iterate_phdr(find_library, library) == 1;
}

// The version that libpappl names in its Server header ("PAPPL/1.3.1"), read from its
// loaded read-only segments; "unknown" when it names none.
std::string library_version(const library_t &library) {
  static const char kMark[] = " PAPPL/";
  for (int i = 0; i < library.count; i++) {
    const ElfW(Phdr) &header = library.headers[i];
    if (header.p_type != PT_LOAD || !(header.p_flags & PF_R) || (header.p_flags & PF_W))
      continue;
    const char *start = reinterpret_cast<const char *>(library.base + header.p_vaddr);
    const char *end = start + header.p_filesz;
    for (const char *at = start; at < end;) {
      const void *found = memmem(at, static_cast<size_t>(end - at), kMark, sizeof kMark - 1);
      if (!found)
        break;
      const char *version = static_cast<const char *>(found) + sizeof kMark - 1;
      size_t length = 0;
      while (version + length < end && (isdigit(version[length]) || version[length] == '.'))
        length++;
      if (length > 0 && isdigit(version[0]))
        return std::string(version, length);
      at = version;
    }
  }
  return "unknown";
}

// What libpappl's dynamic section says: which names its relocations bind through the
// dynamic linker, and whether it binds its own names itself (-Bsymbolic).
struct bindings_t {
  std::vector<std::string> relocatedNames;
  bool symbolic = false;
};

// A pointer from the dynamic section: glibc makes most of them absolute when it loads
// the library, but not on every architecture.
template <typename T> const T *dynamic_pointer(const library_t &library, ElfW(Addr) value) {
  return reinterpret_cast<const T *>(value < library.base ? value + library.base : value);
}

template <typename Rel>
void add_relocated_names(const Rel *relocations, size_t bytes, const ElfW(Sym) * symbols,
                         const char *strings, bindings_t *bindings) {
  for (size_t i = 0; i < bytes / sizeof(Rel); i++) {
#if __SIZEOF_POINTER__ == 8
    size_t index = ELF64_R_SYM(relocations[i].r_info);
#else
    size_t index = ELF32_R_SYM(relocations[i].r_info);
#endif
    if (index)
      bindings->relocatedNames.push_back(strings + symbols[index].st_name);
  }
}

bool read_bindings(const library_t &library, bindings_t *bindings) {
  const ElfW(Dyn) *dynamic = nullptr;
  for (int i = 0; i < library.count; i++)
    if (library.headers[i].p_type == PT_DYNAMIC)
      dynamic = reinterpret_cast<const ElfW(Dyn) *>(library.base + library.headers[i].p_vaddr);
  if (!dynamic)
    return false;
  ElfW(Addr) strtab = 0, symtab = 0, jmprel = 0, rela = 0, rel = 0;
  size_t pltrelsz = 0, relasz = 0, relsz = 0;
  ElfW(Sxword) pltrel = DT_RELA;
  for (const ElfW(Dyn) *entry = dynamic; entry->d_tag != DT_NULL; entry++) {
    switch (entry->d_tag) {
    case DT_STRTAB:
      strtab = entry->d_un.d_ptr;
      break;
    case DT_SYMTAB:
      symtab = entry->d_un.d_ptr;
      break;
    case DT_JMPREL:
      jmprel = entry->d_un.d_ptr;
      break;
    case DT_PLTRELSZ:
      pltrelsz = entry->d_un.d_val;
      break;
    case DT_PLTREL:
      pltrel = static_cast<ElfW(Sxword)>(entry->d_un.d_val);
      break;
    case DT_RELA:
      rela = entry->d_un.d_ptr;
      break;
    case DT_RELASZ:
      relasz = entry->d_un.d_val;
      break;
    case DT_REL:
      rel = entry->d_un.d_ptr;
      break;
    case DT_RELSZ:
      relsz = entry->d_un.d_val;
      break;
    case DT_SYMBOLIC:
      bindings->symbolic = true;
      break;
    case DT_FLAGS:
      bindings->symbolic |= (entry->d_un.d_val & DF_SYMBOLIC) != 0;
      break;
    default:
      break;
    }
  }
  if (!strtab || !symtab)
    return false;
  const auto *symbols = dynamic_pointer<ElfW(Sym)>(library, symtab);
  const auto *strings = dynamic_pointer<char>(library, strtab);
  if (jmprel && pltrel == DT_RELA)
    add_relocated_names(dynamic_pointer<ElfW(Rela)>(library, jmprel), pltrelsz, symbols, strings,
                        bindings);
  if (jmprel && pltrel == DT_REL)
    add_relocated_names(dynamic_pointer<ElfW(Rel)>(library, jmprel), pltrelsz, symbols, strings,
                        bindings);
  if (rela)
    add_relocated_names(dynamic_pointer<ElfW(Rela)>(library, rela), relasz, symbols, strings,
                        bindings);
  if (rel)
    add_relocated_names(dynamic_pointer<ElfW(Rel)>(library, rel), relsz, symbols, strings,
                        bindings);
  return true;
}

bool is_relocated(const bindings_t &bindings, const char *name) {
  for (const std::string &relocated : bindings.relocatedNames)
    if (relocated == name)
      return true;
  return false;
}

// The first thing wrong with the loaded libpappl, or an empty string.
std::string find_mismatch(const library_t &library, const bindings_t &bindings) {
  if (bindings.symbolic)
    return "libpappl binds its own functions (-Bsymbolic), so none of ours would be called";
  for (const replacement_t &replacement : kReplacements) {
    if (dlsym(RTLD_DEFAULT, replacement.name) != replacement.ours)
      return std::string(replacement.name) +
             " resolves to another definition than the application's (is it exported?)";
    void *original = dlsym(RTLD_NEXT, replacement.name);
    if (!original)
      return std::string("libpappl has no ") + replacement.name;
    if (!is_relocated(bindings, replacement.name))
      return std::string("libpappl calls its own ") + replacement.name +
             " directly, not through the dynamic linker";
    g_originals[replacement.name] = original;
  }
  for (const char *name : kPrivateFunctions)
    if (!dlsym(RTLD_DEFAULT, name))
      return std::string("libpappl has no ") + name;
  for (const char *name : kLaterNames)
    if (dlsym(RTLD_DEFAULT, name))
      return std::string("libpappl has ") + name + ", which a later PAPPL calls in place of ours";
  std::string version = library_version(library);
  if (version != kPapplVersion)
    return "libpappl says it is PAPPL " + version;
  return "";
}

} // namespace

bool check_pappl_internals(std::string *problem) {
  library_t library;
  bindings_t bindings;
  std::string mismatch;
  if (!locate_library(&library))
    mismatch = "libpappl cannot be found among the loaded libraries";
  else if (!read_bindings(library, &bindings))
    mismatch = "libpappl's dynamic section cannot be read";
  else
    mismatch = find_mismatch(library, bindings);
  if (!mismatch.empty()) {
    *problem = mismatch + " (PAPPL " + (library.headers ? library_version(library) : "unknown") +
               " found at " + (library.path.empty() ? "?" : library.path) +
               "; this build needs PAPPL " + kPapplVersion + ")";
    return false;
  }
  g_processJob = reinterpret_cast<pappl_job_process_t>(dlsym(RTLD_DEFAULT, "_papplJobProcess"));
  g_setJobState = reinterpret_cast<pappl_job_set_state_t>(dlsym(RTLD_DEFAULT, "_papplJobSetState"));
  g_dnssdInit = reinterpret_cast<pappl_dnssd_init_t>(dlsym(RTLD_DEFAULT, "_papplDNSSDInit"));
  g_systemHome = reinterpret_cast<pappl_system_home_t>(dlsym(RTLD_DEFAULT, "_papplSystemWebHome"));
  g_printerHome =
      reinterpret_cast<pappl_printer_page_t>(dlsym(RTLD_DEFAULT, "_papplPrinterWebHome"));
  g_printerSupplies =
      reinterpret_cast<pappl_printer_page_t>(dlsym(RTLD_DEFAULT, "_papplPrinterWebSupplies"));
  g_filterJpeg =
      reinterpret_cast<pappl_mime_filter_cb_t>(dlsym(RTLD_DEFAULT, "_papplJobFilterJPEG"));
  return true;
}

void *pappl_original(const char *name) {
  auto found = g_originals.find(name);
  return found == g_originals.end() ? nullptr : found->second;
}

void pappl_process_job(pappl_job_t *job) {
  g_processJob(job);
}

bool pappl_print_jpeg(pappl_job_t *job, pappl_device_t *device) {
  return g_filterJpeg(job, device, nullptr);
}

void pappl_copy_document(pappl_client_t *client, pappl_job_t *job) {
  reinterpret_cast<pappl_copy_document_t>(pappl_original("_papplJobCopyDocumentData"))(client, job);
}

void pappl_abort_job(pappl_job_t *job, const char *message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
  papplJobSetMessage(job, "%s", message);
  // PAPPL's cancel moves a job that is not processing out of the queue, with its spool
  // file; the state it leaves is then made what it is: aborted by the system. A job
  // restored as processing has no thread, so it is made pending for the cancel.
  if (papplJobGetState(job) == IPP_JSTATE_PROCESSING)
    g_setJobState(job, IPP_JSTATE_PENDING);
  papplJobCancel(job);
  g_setJobState(job, IPP_JSTATE_ABORTED);
}

void pappl_requeue_job(pappl_job_t *job) {
  g_setJobState(job, IPP_JSTATE_PENDING);
}

time_t pappl_job_hold_until(pappl_job_t *job) {
  const auto *head = reinterpret_cast<const pappl_job_head_t *>(job);
  // A layout that does not match the public accessors' values is never trusted.
  if (!job || head->job_id != papplJobGetID(job) || head->created != papplJobGetTimeCreated(job))
    return 0;
  return head->hold_until;
}

const char *pappl_set_job_format(pappl_job_t *job, const char *format) {
  auto *head = reinterpret_cast<pappl_job_head_t *>(job);
  if (!job || head->job_id != papplJobGetID(job) || head->created != papplJobGetTimeCreated(job) ||
      head->format != papplJobGetFormat(job))
    return nullptr;
  // PAPPL reads the format under the job's lock when it saves its state.
  pthread_rwlock_wrlock(&head->rwlock);
  const char *old = head->format;
  head->format = format;
  pthread_rwlock_unlock(&head->rwlock);
  return old;
}

int pappl_device_socket(pappl_device_t *device) {
  const auto *head = static_cast<const pappl_socket_head_t *>(papplDeviceGetData(device));
  struct stat info;
  if (!head || head->fd < 0 || fstat(head->fd, &info) || !S_ISSOCK(info.st_mode))
    return -1;
  return head->fd;
}

// PAPPL keeps the first resource registered for a path (resource.c:449), so a page
// registered before PAPPL registers its own takes that path.
void pappl_take_system_home(pappl_system_t *system, pappl_resource_cb_t page) {
  papplSystemAddResourceCallback(system, "/", "text/html", page, nullptr);
}

void pappl_take_printer_page(pappl_printer_t *printer, const char *subpath,
                             pappl_resource_cb_t page, void *printerId) {
  char path[256];
  papplPrinterGetPath(printer, subpath, path, sizeof path);
  papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", page,
                                 printerId);
}

void pappl_show_system_home(pappl_client_t *client) {
  g_systemHome(client, papplClientGetSystem(client));
}

void pappl_show_printer_home(pappl_client_t *client, pappl_printer_t *printer, bool hideJobNames) {
  t_hideJobNames = hideJobNames;
  g_printerHome(client, printer);
  t_hideJobNames = false;
}

void pappl_show_printer_supplies(pappl_client_t *client, pappl_printer_t *printer) {
  g_printerSupplies(client, printer);
}

bool pappl_hides_job_names() {
  return t_hideJobNames;
}

bool pappl_dnssd_answers() {
  return g_dnssdInit(nullptr) != nullptr;
}
