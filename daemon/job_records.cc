#include "daemon/job_records.h"

namespace optad {

void job_records_clear(JobRecordTable &table)
{
    table.fill(JobRecord{});
}

}  // namespace optad
