// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// Finding the lamp's tty by its serial number. udev names every USB-serial adapter under /dev/serial/by-id as
// "usb-<maker>_<product>_<serial>-if<NN>-port<N>" (for example usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0).

// The directory searched: $KD5LITE_SERIAL_DIR when set and not empty, else /dev/serial/by-id.
std::string serial_dir();

// The serial handed to the open: SerialNumber from its second character on; empty for an empty or one-character
// SerialNumber.
std::string_view open_serial(std::string_view serial_number);

// The serial part of a by-id entry name: between its last '_' and the "-if" that follows it; empty when the name
// has no such part.
std::string_view by_id_serial(std::string_view name);

// Path of the entry of dir whose serial part equals serial exactly (the first in name order when an adapter has
// several interfaces). Empty when there is none or serial is empty; errno then tells why (ENOENT, or the error of
// reading dir).
std::string find_serial_entry(const std::string& dir, std::string_view serial);
