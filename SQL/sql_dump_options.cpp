#include "SQL/sql_dump_options.h"

#include "TK/tk_log.h"

dump_options::dump_options()
{
    tk_write_log(2, "dump_options::ctor1");
}
