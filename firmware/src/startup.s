@ Device program: vector table, a reset handler that blinks the status LED,
@ and handlers that park the processor when an unexpected exception occurs.

        .syntax unified
        .cpu cortex-m0
        .thumb

@ The device's GPIO block: direction register (1 = output) and output data
@ register. The status LED hangs on pin 7.
        .equ GPIO0_DIR,   0x40020000
        .equ GPIO0_DATA,  0x40020004
        .equ LED_MASK,    (1 << 7)
        .equ BLINK_LOOPS, 600000

@ Exception vectors: initial stack pointer, 15 system exceptions, 32
@ peripheral interrupts. Reserved entries are zero.
        .section .vectors, "a"
        .align 2
        .word __stack_top
        .word Reset_Handler
        .word NMI_Handler
        .word HardFault_Handler
        .word 0, 0, 0, 0, 0, 0, 0
        .word SVC_Handler
        .word 0, 0
        .word PendSV_Handler
        .word SysTick_Handler
        .rept 32
        .word Default_Handler
        .endr

        .text

        .thumb_func
        .global Reset_Handler
        .type Reset_Handler, %function
Reset_Handler:
        ldr     r0, =GPIO0_DIR
        ldr     r1, [r0]
        movs    r2, #LED_MASK
        orrs    r1, r1, r2
        str     r1, [r0]            @ LED pin becomes an output
        ldr     r0, =GPIO0_DATA
        movs    r1, #0
1:      eors    r1, r1, r2          @ toggle the LED
        str     r1, [r0]
        ldr     r3, =BLINK_LOOPS
2:      subs    r3, r3, #1          @ busy wait between toggles
        bne     2b
        b       1b
        .size Reset_Handler, . - Reset_Handler

@ Every other exception stops here, so a debugger finds the processor at
@ the handler that was entered.
        .macro park name
        .thumb_func
        .global \name
        .type \name, %function
\name:
        b       .
        .size \name, . - \name
        .endm

        park NMI_Handler
        park HardFault_Handler
        park SVC_Handler
        park PendSV_Handler
        park SysTick_Handler
        park Default_Handler

        .pool
