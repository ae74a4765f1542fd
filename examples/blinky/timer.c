/* Timer 0 and LED driver of the blinky sample. */
#include "lpc2000.h"
#include "blinky.h"

#define LED_SHIFT 16

volatile unsigned int timer_ticks;
static unsigned int timer_reload;
unsigned char led_shadow;

void timer_init(unsigned int reload)
{
    timer_reload = reload;
    T0TCR = 2;
    T0PR = 0;
    T0MR0 = reload;
    T0MCR = 3;
    T0TCR = 1;
}

void timer_wait(unsigned int ticks)
{
    unsigned int start = timer_ticks;

    while (timer_ticks - start < ticks) {
        if (T0IR & 1) {
            T0IR = 1;
            timer_ticks++;
        }
    }
}

void led_init(void)
{
    IODIR0 |= 0xFFu << LED_SHIFT;
    IOSET0 = 0xFFu << LED_SHIFT;
    led_shadow = 0;
}

void led_write(unsigned char led, unsigned char on)
{
    unsigned int mask = 1u << (led + LED_SHIFT);

    if (on) {
        IOCLR0 = mask;
        led_shadow |= (unsigned char)(1u << led);
    } else {
        IOSET0 = mask;
        led_shadow &= (unsigned char)~(1u << led);
    }
}
