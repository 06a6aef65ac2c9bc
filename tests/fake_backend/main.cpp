// Placeholder until the scripted back-end lands.
int main() { return 0; }
