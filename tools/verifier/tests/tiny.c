/* The smallest program to sign in the verifier's tests. */
int main(void) { return 0; }
