#pragma once

#include "core/import_status.h"
#include "platform/port.h"

namespace profile_import {

// The program's whole job: take the hand-off file in, store it in the profile
// key, and remove the file once every value is stored.
ImportStatus RunImport(platform::Port& port);

}  // namespace profile_import
