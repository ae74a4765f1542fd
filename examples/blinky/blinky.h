/* Interface between the units of the blinky sample. */
#ifndef BLINKY_H
#define BLINKY_H

#define LED_COUNT 8

struct blink_state {
    unsigned char led;
    unsigned char on;
    unsigned short delay_ms;
};

extern volatile unsigned int timer_ticks;

void timer_init(unsigned int reload);
void timer_wait(unsigned int ticks);
void led_init(void);
void led_write(unsigned char led, unsigned char on);
int main(void);

#endif
