/* Memory map of the device: 20 KiB of program flash at address 0, 4 KiB of
   SRAM above 0x10000000. The stack starts at the top of SRAM. */
MEMORY
{
  FLASH (rx)  : ORIGIN = 0x00000000, LENGTH = 20K
  SRAM  (rwx) : ORIGIN = 0x10000000, LENGTH = 4K
}

__stack_top = ORIGIN(SRAM) + LENGTH(SRAM);

ENTRY(Reset_Handler)

SECTIONS
{
  .text :
  {
    KEEP(*(.vectors))
    *(.text*)
    *(.rodata*)
  } > FLASH

  /DISCARD/ : { *(.ARM.attributes) *(.comment) }
}
