// The ODBC engine (being written).
