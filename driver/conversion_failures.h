#pragma once
// What the last run left out, by kind: the counts every reported failure of the run goes into
// (udb_report_failure). Front ends read them at the run's end (the console's summary line and
// exit status, the wizard's finish page).

#include "UDB/udb_failure.h"

using conversion_failures = udb_failure_counts;
