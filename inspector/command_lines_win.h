#pragma once
// Command lines through WMI (Win32_Process), joined to a process table.
#include <oaidl.h>

#include <cstdint>

#include "classifier/process_facts.h"
#include "inspector/command_line_join.h"

namespace mirrow::inspector {

// The values of one row as the join reads them: the id only from a 32-bit
// integer, the texts only from strings (a null command line stays absent).
WmiRow wmi_row_from_variants(const VARIANT& process_id, const VARIANT& command_line, const VARIANT& creation_date);

// Enters the multithreaded COM apartment on this thread, runs the
// Win32_Process query and joins the rows within the time budget. Returns the
// status: 0, wbem_s_timedout, or the negative code of the first failing step
// (COM initialisation, locator, connection, proxy security, query, or an
// enumeration call).
std::int32_t fill_command_lines(ProcessTable& table);

}  // namespace mirrow::inspector
