#include "pmr_shel/port_text.h"

bool read_port_text(const QString& text, int& port)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        port = 0;
        return true;
    }
    for (QChar c : trimmed)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    if (trimmed.size() > 5)
        return false;
    const int value = trimmed.toInt();
    if (value > 65535)
        return false;
    port = value;
    return true;
}
