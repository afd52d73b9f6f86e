// Quorvane's entry point. The application shell is not built yet: start and leave cleanly.
#include <cstdio>

int main()
{
    std::puts("Quorvane 1.4");
    return 0;
}
