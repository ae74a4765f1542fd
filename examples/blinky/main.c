/* Blinky: runs a light along eight LEDs on port 0. */
#include "blinky.h"

const unsigned char led_order[LED_COUNT] = { 0, 1, 2, 3, 7, 6, 5, 4 };
unsigned short delays[4] = { 50, 100, 200, 400 };
struct blink_state state;
static int rounds;

int main(void)
{
    int speed = 1;

    led_init();
    timer_init(15000);
    for (;;) {
        state.led = led_order[rounds % LED_COUNT];
        state.on = 1;
        state.delay_ms = delays[speed];
        led_write(state.led, state.on);
        timer_wait(state.delay_ms);
        led_write(state.led, 0);
        rounds++;
    }
}
