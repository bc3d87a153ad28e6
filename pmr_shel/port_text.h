#pragma once
// Reading a port box of the connection pages.

#include <QString>

// A port box holds blanks only (port 0: none given) or a decimal number from 0
// to 65535 with blanks around it. Anything else ("54a", "-1", "70000") is
// refused: false, port untouched, and the page says "Invalid port number".
bool read_port_text(const QString& text, int& port);

inline constexpr const char* invalid_port_text = "Invalid port number";
