// The simulated SQL Server (being written).
