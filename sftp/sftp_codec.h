// The SFTP version 3 codec: pure functions and classes, no I/O. The session that runs
// `ssh -s sftp` feeds the bytes from its pipe to a PacketReader, decodes each packet, matches
// it to its request in a RequestTable, and writes what the encoders make.
#pragma once

#include "sftp/sftp_attributes.h"     // FileAttributes both ways
#include "sftp/sftp_framing.h"        // PacketReader: bytes in, packets out
#include "sftp/sftp_listing.h"        // "ls -l" lines for NAME entries
#include "sftp/sftp_outcome.h"        // status codes as the log's reply codes
#include "sftp/sftp_protocol.h"       // the protocol's numbers
#include "sftp/sftp_replies.h"        // the server's packets
#include "sftp/sftp_request_table.h"  // request ids and their replies
#include "sftp/sftp_requests.h"       // the client's packets
#include "sftp/sftp_wire.h"           // integers, strings, Decoded
