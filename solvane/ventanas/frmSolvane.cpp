// The windows (being written).
