@0x8b97a024b9d16568;
# The transport's own cost: a call carrying `request` whose answer carries `replySize` bytes.

interface Echo {
  call @0 (request :Data, replySize :UInt32) -> (reply :Data);
}
