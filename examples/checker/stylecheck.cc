// Placeholder until the example checker is written.
int main() { return 0; }
