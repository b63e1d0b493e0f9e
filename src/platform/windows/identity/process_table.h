// The running processes and what Windows tells about each: Toolhelp's
// snapshot for the pids and parents, the process's image, version resource
// and package for its identity.
#pragma once

#include <string>
#include <vector>

#include "platform/windows/identity/identity.h"
#include "platform/windows/sound/consent_entries.h"

namespace windows_source {

struct ProcessEntry {
  ProcessId pid = 0;
  ProcessId parent = 0;
  std::string executable;  // the image's file name
};

std::vector<ProcessEntry> runningProcesses();

// Empty parts where the process has ended or may not be opened.
ProcessFacts factsOf(ProcessId pid);

// The running processes an in-use entry could belong to, with the one fact
// the entry is matched by: only those whose file name fits are opened.
std::vector<CandidateProcess> candidatesFor(const std::vector<ConsentEntry>& entries,
                                            const std::vector<ProcessEntry>& running);

}  // namespace windows_source
