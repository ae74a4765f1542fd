/* Start-up stub of the blinky sample: vectors, stack, .data and .bss. */
#include "blinky.h"

extern unsigned int _etext, _data, _edata, _bss, _ebss, _stack_top;

void _start(void) __attribute__((naked));
void reset_handler(void);

__attribute__((naked, section(".vectors"))) void vectors(void)
{
    __asm__ volatile(
        "b _start\n"
        "b .\n"
        "b .\n"
        "b .\n"
        "b .\n"
        "nop\n"
        "b .\n"
        "b .\n");
}

void _start(void)
{
    __asm__ volatile(
        "ldr sp, =_stack_top\n"
        "b reset_handler\n");
}

void reset_handler(void)
{
    unsigned int *src = &_etext;
    unsigned int *dst = &_data;

    while (dst < &_edata)
        *dst++ = *src++;
    for (dst = &_bss; dst < &_ebss; dst++)
        *dst = 0;
    main();
    for (;;)
        ;
}
