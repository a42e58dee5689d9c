// The job record table: per job identifier, whether its command waits for
// the IMC's confirmation, when it was last sent and how often.
//
// Only the parameter jobs (12 to 47) use their records: the send step marks
// a record pending, the confirmation check after each status poll clears it
// or resends. The power-up job clears the whole table before it powers the
// IMC up, since a fresh IMC has seen none of the earlier commands.
#pragma once

#include "daemon/jobs.h"

#include <array>
#include <cstdint>

namespace optad {

struct JobRecord {
    int pending = 0;      // sent and not yet confirmed or given up
    int64_t sent_at = 0;  // monotonic microseconds of the last successful send
    int tries = 0;        // sends since the last confirmation
};

using JobRecordTable = std::array<JobRecord, JOB_COUNT>;

// Sets every field of every record to zero.
void job_records_clear(JobRecordTable &table);

}  // namespace optad
