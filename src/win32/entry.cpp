// The Windows program's entry: arguments arrive as UTF-16 through the
// Unicode entry point.
#include "run/run.h"
#include "report/report.h"

int wmain(int argc, wchar_t** argv) { end_process(portsift_run(argc, argv)); }
