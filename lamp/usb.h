// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The byte transport to the lamp: the one DeviceLink of the process, opened by the lamp's serial number.
// Every operation returns 0 on success and -1 on failure (usb_read: the reply character, or -1).

int usb_open();                                      // opens by SerialNumber from its second character on
int usb_write(const unsigned char* bytes, int length); // length at most 128
int usb_read();                                      // first reply byte when '0'-'9', 'A'-'Z' or '-'; else -1
int usb_close();                                     // always 0; closing a closed link does nothing
