"""pyserial URL handlers of snlib: protocol_sn serves sn://."""
