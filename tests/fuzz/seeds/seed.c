/* The DWARF 5 seed images of the fuzz target, built at -O2 in ARM state
   (location lists in .debug_loclists, range lists, inlined calls, a frame
   base through the CFA) and at -O0 in Thumb state. */
struct point {
    short x, y;
    unsigned char tag[3];
};

volatile int sink;
static struct point grid[2][3];
const char *names[4] = {"a", "b", "c", "d"};

static inline int clamp(int value, int low, int high)
{
    if (value < low)
        return low;
    return value > high ? high : value;
}

int walk(struct point *p, int count, long long scale)
{
    int sum = 0;
    for (int i = 0; i < count; i++) {
        int step = clamp(p[i].x * (int)scale, -100, 100);
        sum += step + p[i].tag[i & 1];
        sink = sum;
    }
    return sum;
}

unsigned mix(unsigned a, unsigned b, unsigned c, unsigned d, unsigned e)
{
    unsigned t = a ^ (b << 3);
    t += clamp((int)c, 0, 9) * d;
    return t - e;
}

int main(void)
{
    grid[1][2].x = (short)sink;
    int r = walk(&grid[0][0], 6, 3);
    r += (int)mix((unsigned)r, 2, 3, 4, (unsigned)sink);
    return r + names[r & 3][0];
}
