/* Does nothing: the start-up cost of a plain C program on this machine. */
int main(void) { return 0; }
