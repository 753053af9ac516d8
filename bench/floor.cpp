// The cheapest possible process: what starting and ending a program of this
// build costs before it does any work.
int main() {
    return 0;
}
