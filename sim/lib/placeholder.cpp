namespace sim { int placeholder() { return 0; } }
