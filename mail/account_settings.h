#pragma once

#include "mail/account.h"

// The account at index (0 to 2) as the settings record holds it now. The plain password is copied into the
// account's credential, which wipes it when the account goes.
Account read_account(int index);
