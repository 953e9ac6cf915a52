// SPDX-License-Identifier: Apache-2.0
#include "app/printer/device_commands.h"

bool send_device_command(pappl_printer_t *printer, const char *command) {
  pappl_device_t *device = papplPrinterOpenDevice(printer);
  if (!device)
    return false;
  bool sent = write_device_command(device, command);
  papplPrinterCloseDevice(printer);
  return sent;
}

bool write_device_command(pappl_device_t *device, const char *command) {
  bool sent = papplDevicePuts(device, command) >= 0 && papplDevicePuts(device, "\r\n") >= 0;
  papplDeviceFlush(device);
  return sent;
}
