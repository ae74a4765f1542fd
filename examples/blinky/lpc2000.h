/* The few LPC2000 peripheral registers that the blinky sample touches. */
#ifndef LPC2000_H
#define LPC2000_H

#define REG32(addr) (*(volatile unsigned int *)(addr))

/* GPIO port 0 */
#define IOSET0 REG32(0xE0028004)
#define IODIR0 REG32(0xE0028008)
#define IOCLR0 REG32(0xE002800C)

/* Timer 0 */
#define T0IR  REG32(0xE0004000)
#define T0TCR REG32(0xE0004004)
#define T0PR  REG32(0xE000400C)
#define T0MCR REG32(0xE0004014)
#define T0MR0 REG32(0xE0004018)

#endif
